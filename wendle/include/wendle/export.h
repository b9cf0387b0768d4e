#pragma once

#if defined(WENDLE_BUILDING)
#define WENDLE_API __attribute__((visibility("default")))
#else
#define WENDLE_API
#endif
