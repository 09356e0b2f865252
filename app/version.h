#pragma once
// The product version, written here only. The build reads this line for
// the version resources and the manifest (cmake/release.cmake).
#define VANTEL_VERSION_TEXT "2.2.06"
