// Where the built pieces and the source tree are, as the build wrote them in.
#pragma once

#ifndef U2LVOST_LIBRARY
#error "test_support must be linked: it defines the paths of the built pieces"
#endif
