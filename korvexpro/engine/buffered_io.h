#pragma once

// File hooks for shapelib that keep its many small writes in a buffer.
//
// shapelib writes a shapefile record by record, seeking before every record and, in the table,
// writing and then overwriting an end-of-file mark after each row. Through stdio every such step
// is a system call (and a seek on an update stream even reads the block back). These hooks keep
// one buffer per file that takes writes at, inside or right after the buffered range, so the
// files are written in large blocks.
//
// A file whose data could not be written whole is removed when shapelib closes it, so that no
// truncated output looks complete; callers check that their files exist after closing them.
// shapelib's error messages are not printed: the conversion log says what failed.

#include <shapefil.h>

namespace Kvx {

// The hooks, for SHPCreateLL, DBFCreateLL and the other "LL" functions of shapelib (which copy
// them).
SAHooks BufferedFileHooks();

}  // namespace Kvx
