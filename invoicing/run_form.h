// The fee-invoice run's parameter form (form 1) and the questions a pass
// asks before it issues anything: the form shown with the sending mode's
// backlog under it, the parameters read from its six values, the number and
// the confirmation note a registered run offers, and the warnings the user
// confirms on the confirmation form.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "invoicing/issued.h"
#include "invoicing/production.h"
#include "invoicing/run_shared.h"

// Shows form 1 (with the backlog line under it in the sending mode) and
// returns the key that ended it.
[[nodiscard]] int16_t RunParameterForm();

// In the sending mode, how many records wait for the agency and how many it
// rejected; empty otherwise or when none.
[[nodiscard]] std::string SendingBacklogText();

// The parameters of a pass from the six values form 1 holds now
// (InvoiceParametersFromTexts).
[[nodiscard]] InvoiceParameters FormParameters();

// Before form 1 is shown to a registered run: the number field offered as
// the number after the highest of tax class 0's series (a series not yet in
// the register keeps the form's number, which the user may change), and the
// confirmation's note naming the first number of each series; a run the
// register would refuse is told before it is confirmed.
void PrepareRegisteredForm(RunRegister& reg);

// After form 1, the confirmation's note is taken away again.
void ClearRegisteredForm();

// Shows text above the confirmation form and asks it again: true when the
// user answers "S". Without a confirmation form the text is told and nothing
// is confirmed.
[[nodiscard]] bool ConfirmAfter(const std::string& text);

// The owners a pass left out (code, name), as the user is told of them.
[[nodiscard]] std::string LeftOutText(const std::vector<std::pair<std::string, std::string>>& owners);

// Whether a registered pass may issue what it made: invoices whose
// recipient's NIF fails its control character are named for the user to
// accept (in either mode; owners with no usable tax id were left out of the
// pass already). The links the register has billed for the period ending in
// the pass's month are named with the register's invoices and, unless the
// user includes them (asked twice), given in leaveOutOut for the pass to be
// made again without them. False when not accepted (the user has been told).
[[nodiscard]] bool RegisteredPassAccepted(RunRegister& reg, const std::vector<IssuedInvoice>& issued,
                                          bool keepingActive, std::set<std::string>& leaveOutOut);
