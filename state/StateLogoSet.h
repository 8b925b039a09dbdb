#pragma once
// The NV logos of a state file as one upload prepares them for a printer model: the logo
// tool's options for the model with the file's conversion options, each picture read and
// converted once. A run over many printers prepares one set per model and hands it to every
// printer's engine; one printer's apply prepares its own.
#include "app/Prompter.h"
#include "app/Result.h"
#include "logo/PreparedLogos.h"
#include "state/StateFile.h"

#include <memory>

// Failure: "PATH: reason; nothing was sent" for a picture the list refuses, or "cannot convert
// PATH: reason". The prompter hears the list's refusals as the logo pages show them. Any thread.
Result<std::shared_ptr<const PreparedLogos>> prepareStateLogos(const StateLogos& logos, ModelFamily family,
                                                               Prompter& prompter);
