#pragma once

#if defined(VORDEX_BUILDING)
#define VORDEX_API __attribute__((visibility("default")))
#else
#define VORDEX_API
#endif
