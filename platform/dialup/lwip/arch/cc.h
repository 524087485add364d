/* The compiler and platform facts lwIP asks for: the standard headers of
   every compiler this project uses, and faults reported to the process. */
#ifndef RS232C_LWIP_ARCH_CC_H
#define RS232C_LWIP_ARCH_CC_H

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#define LWIP_NO_UNISTD_H 1
#define LWIP_ERRNO_STDINCLUDE 1
#define LWIP_TIMEVAL_PRIVATE 0

/* lwIP's asserts guard its own invariants; one that fails is a fault of the
   process, reported and stopped as an assert would be. */
#define LWIP_PLATFORM_DIAG(x) do { } while (0)
#define LWIP_PLATFORM_ASSERT(x) do { fprintf(stderr, "lwIP assertion \"%s\" failed at %s:%d\n", x, __FILE__, __LINE__); abort(); } while (0)

#ifdef __cplusplus
extern "C" {
#endif
uint32_t rs232c_dialup_random(void);
#ifdef __cplusplus
}
#endif

#endif
