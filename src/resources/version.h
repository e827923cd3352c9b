// The guest tools package's version, fixed here for the build; the version
// resource and the host announcement both take it from this file.
#pragma once

#define MANTLET_VERSION_MAJOR 1
#define MANTLET_VERSION_MINOR 4
#define MANTLET_VERSION_BUILD 2
#define MANTLET_VERSION_REVISION 318

#define MANTLET_STRINGIZE2(x) #x
#define MANTLET_STRINGIZE(x) MANTLET_STRINGIZE2(x)
#define MANTLET_VERSION_STRING                                        \
  MANTLET_STRINGIZE(MANTLET_VERSION_MAJOR)                            \
  "." MANTLET_STRINGIZE(MANTLET_VERSION_MINOR) "." MANTLET_STRINGIZE( \
      MANTLET_VERSION_BUILD) "." MANTLET_STRINGIZE(MANTLET_VERSION_REVISION)
