#pragma once

// The reader of files that users name lives with the image module, which reads most of them.
#include "imaging/RegularFile.h"
