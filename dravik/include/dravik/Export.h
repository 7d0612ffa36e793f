#pragma once

// libdravik is built with hidden visibility; its public API is exported explicitly.
#define DRAVIK_API __attribute__((visibility("default")))
