#pragma once
// Moves the option values between the user setup dialog's controls and the SetupOptions
// model, like the Windows dialog's data exchange: formToOptions is "take the values from
// the controls", optionsToForm is "refresh the controls".
#include "setup/SetupOptions.h"

#include <string>

class UserSetupForm;

// Reads every control into options. Fails (returns the message to show) when a number
// field is not a number in its range; the margin's own range is checked by Set Value,
// which has a message for it, so it only has to be a number here.
std::string formToOptions(const UserSetupForm& form, SetupOptions& options);
// Shows options in the controls; -1 clears a radio pair or a combo.
void optionsToForm(const SetupOptions& options, UserSetupForm& form);
