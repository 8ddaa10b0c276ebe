// Export marker of the platform stand-in libraries. Everything else in them is hidden.
#pragma once

#define ZOLT_PLATFORM_API __attribute__((visibility("default")))
