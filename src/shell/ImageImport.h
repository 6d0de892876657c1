#pragma once

// The image checks live in the image module; the shell's callers include them under this name.
#include "imaging/ImageImport.h"
