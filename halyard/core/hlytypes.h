#ifndef HLY_TYPES_H
#define HLY_TYPES_H

#include <cstddef>
#include <cstdint>

typedef uint8_t      HLY_Byte;
typedef uint8_t      HLY_UInt8;
typedef int8_t       HLY_Int8;
typedef uint16_t     HLY_UInt16;
typedef int16_t      HLY_Int16;
typedef uint32_t     HLY_UInt32;
typedef int32_t      HLY_Int32;
typedef uint64_t     HLY_UInt64;
typedef int64_t      HLY_Int64;
typedef uint32_t     HLY_Size;        // sizes of in-memory objects and I/O calls
typedef uint64_t     HLY_LargeSize;   // sizes of streams and files
typedef uint64_t     HLY_Position;    // positions in streams and files
typedef int64_t      HLY_Offset;
typedef unsigned int HLY_Cardinal;    // counts of items
typedef unsigned int HLY_Ordinal;     // indexes of items
typedef uint32_t     HLY_Flags;
typedef int32_t      HLY_Timeout;     // milliseconds

#define HLY_TIMEOUT_INFINITE (-1)

#define HLY_ARRAY_SIZE(_a) (sizeof(_a) / sizeof((_a)[0]))

#endif // HLY_TYPES_H
