#pragma once
// The captions of the user setup dialog that the Korean system replaces, and the profile
// entries the dialog keeps in section "USER".
#include <utility>
#include <vector>

// Control id and Korean caption, applied on Korean systems.
const std::vector<std::pair<int, const char*>>& userSetupKoreanCaptions();

// The code-page catalogue the dialog writes to the profile every time it opens: key and
// value ("CodePage0" = "0|PC437 (USA, Std Europe)"). Other programs read it from there.
const std::vector<std::pair<const char*, const char*>>& codePageProfileKeys();
