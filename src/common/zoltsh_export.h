// Export marker of libzoltsheet: only what carries ZOLTSH_API is visible outside the library.
#pragma once

#define ZOLTSH_API __attribute__((visibility("default")))
