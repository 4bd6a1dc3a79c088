// Debug levels both images log at and filter on. The PEI module and the DXE
// driver share the product-data library, whose messages carry these levels too.
#ifndef ZEPHRIN_COMMON_DEBUG_LEVELS_H_
#define ZEPHRIN_COMMON_DEBUG_LEVELS_H_

#define DEBUG_WARN 0x00000002
#define DEBUG_INFO 0x00000040
#define DEBUG_ERROR 0x80000000

#endif  // ZEPHRIN_COMMON_DEBUG_LEVELS_H_
