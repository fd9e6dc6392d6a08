// Loading one object: header, sections, trailing blocks, report, checksum.
#pragma once

// Largest distance a section or trailing block may run past the end of the
// object file before the object is rejected as corrupt.
constexpr long SECTION_OVERRUN_LIMIT = 65536;

void object_info();
