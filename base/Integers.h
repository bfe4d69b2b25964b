// Fixed-width integers without <stdint.h>, which old device compilers lack.
// int is 32 bits on every target we build for. Like <stdint.h>'s, they stay in
// the global namespace.
#ifndef VORLUND_INTEGERS_H
#define VORLUND_INTEGERS_H

typedef int Int32;
typedef unsigned int UInt32;

#endif
