#pragma once

#include "model/AppFailure.h"

// The backup and share paths fail the same way as the rest of the program: one complete German
// sentence, shown to the user unchanged.
using BackupFailure = AppFailure;
