// The help launcher's plain text of an HTML page, for terminals without a
// text browser.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "suite/brovex/htmltext.h"
#include "tests/support/temp_root.h"

namespace {

TEST(HelpPageText, TagsEntitiesAndWhiteSpace) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"plain", "plain\n"},
      {"<p>one</p><p>two</p>", "one\ntwo\n"},
      {"a<br>b<br/>c", "a\nb\nc\n"},
      {"<b>bold</b> and <i>italic</i>", "bold and italic\n"},
      {"many   blanks\n\tand\r\nlines", "many blanks and lines\n"},
      {"<pre>\n  kept   as\n  written</pre>after", "  kept   as\n  written\nafter\n"},
      {"<pre>\r\nline</pre>", "line\n"},
      {"&lt;tag&gt; &amp; &quot;q&quot; &apos;a&apos;", "<tag> & \"q\" 'a'\n"},
      {"caf&#233; &#xE0; &#x20AC;", "caf\xc3\xa9 \xc3\xa0 \xe2\x82\xac\n"},
      {"&#0; &#xD800;", "\xef\xbf\xbd \xef\xbf\xbd\n"},
      {"a&#27;[2Jb&#x7;c&#x9B;d&#10;e&#127;f", "a [2Jb c d e f\n"},
      {"&unknown; & alone &#12x;", "&unknown; & alone &#12x;\n"},
      {"<head><title>Title</title><style>p{color:red}</style></head><body>Body</body>",
       "Title\nBody\n"},
      {"<script>if (a < b) x();</script>shown", "shown\n"},
      {"<h1>Head</h1>text<ul><li>one<li>two</ul>", "Head\ntext\none\ntwo\n"},
      {"text <unclosed", "text\n"},
      {"<P>Upper</P><BR>case", "Upper\ncase\n"},
  };
  for (const auto& [html, text] : cases) {
    EXPECT_EQ(HtmlToText(html), text) << html;
  }
}

// A page that is no file is refused at once, named, with the reason: a
// pipe would otherwise hold the help viewer (and the module) for good;
// "timeout" turns such a wait into a failure.
TEST(HelpPageProgram, RefusesWhatIsNoFileWithoutWaiting) {
  TempRoot root;
  ASSERT_EQ(::mkfifo((root.Dir() + "pipe.htm").c_str(), 0600), 0);
  root.Write("page.htm", "<p>Hola</p>");
  struct Case {
    const char* page;
    int exitCode;
    std::string said;  // on the output, or the error stream when refused
  };
  const Case cases[] = {
      {"pipe.htm", 1, "brovex: la p\xc3\xa0gina d'ajuda no \xc3\xa9s un fitxer normal: pipe.htm"},
      {"missing.htm", 1, "brovex: no es pot obrir la p\xc3\xa0gina d'ajuda: missing.htm"},
      {"page.htm", 0, "Hola"},
  };
  for (const Case& c : cases) {
    const std::string command = "cd '" + root.Dir() + "' && timeout 20 env LANG=C PATH=/nonexistent ZEPTMP= '"
                                BROVEX_PROGRAM "' " + c.page + " > out.txt 2> err.txt";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status)) << c.page;
    EXPECT_EQ(WEXITSTATUS(status), c.exitCode) << c.page;
    std::stringstream said;
    said << std::ifstream(root.Dir() + (c.exitCode == 0 ? "out.txt" : "err.txt")).rdbuf();
    EXPECT_NE(said.str().find(c.said), std::string::npos) << c.page << ": " << said.str();
  }
}

}  // namespace
