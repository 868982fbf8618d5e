#pragma once
// The project version from the build ("1.0.0"), for titles, --version and the
// descriptions the tool writes.

[[nodiscard]] const char* PaloVersionText();
// The day the program was compiled, "YYYY-MM-DD".
[[nodiscard]] const char* PaloBuildDateText();
