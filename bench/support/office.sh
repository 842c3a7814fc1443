# Sourced by the scripts that time passes over the large office: builds the
# targets named in $targets (with the generator and recman) in
# build-invoice-bench, and make_office SCALE makes the office of that scale
# in build-invoice-bench/offices/SCALE when it is missing, printing its path
# last. Needs $src (the source tree) and $log (the build's log) set.
build="$src/build-invoice-bench"
mkdir -p "$build"
if ! { cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVADEL_BENCH=ON -DKORVADEL_TESTS=OFF &&
       cmake --build "$build" --target $targets invoice_bench_generate recman -j2; } >"$log" 2>&1; then
  tail -n 30 "$log"
  echo "run.sh: the build failed; the whole log is in $log" >&2
  exit 1
fi

make_office() {
  office="$build/offices/$1"
  if [ ! -f "$office/DADES/.complete" ]; then
    echo "making the office at scale $1 in $office"
    rm -rf "$office"
    mkdir -p "$office/DADES" "$office/raw"
    "$build/bin/invoice_bench_generate" "$office/raw" "$1"
    for base in PropietV FinquesV DepartaV CobramV; do
      "$build/bin/recman" create "$office/DADES/$base.dat" "$src/install/ddf/$base.xdf"
      "$build/bin/recman" load "$office/DADES/$base.dat" "$office/raw/$base.raw"
    done
    rm -rf "$office/raw"
    touch "$office/DADES/.complete"
  fi
}
