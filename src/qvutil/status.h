// Every status code of the program, named once. Operations return 0 for
// success; the table store's codes double as the codes of the formats and
// the driver, which add the few of their own below.
#pragma once

// ---- the table store (and every layer that passes its codes on)
constexpr int kOk = 0;
constexpr int kErrSlotsOrClose = 1;  // root slot count past 32767; closing a file failed
constexpr int kErrNoBlock = 2;       // block address 0 where a block is needed
constexpr int kErrSlotInUse = 3;
constexpr int kErrBadFormat = 4;  // bad magic, version or block; a damaged or foreign file
constexpr int kErrIo = 6;         // a read, write or seek failed
constexpr int kErrCreate = 8;
constexpr int kErrNotFound = 9;  // a file that cannot be opened or does not exist
constexpr int kErrSlotEmpty = 10;
constexpr int kErrStillLinked = 11;
constexpr int kErrNoMemory = 12;
constexpr int kErrRange = 13;  // ID or slot outside the index, or in the wrong state
constexpr int kErrReadOnlyFile = 16;
constexpr int kErrMode = 17;  // bad open mode; table not open for writing
constexpr int kErrDependent = 50;
constexpr int kErrInconsistent = 51;
constexpr int kErrCharMapVersion = 53;

// ---- readers, writers and the driver
constexpr int kFailed = -1;            // a record reader, modifier or writer failed (reported)
constexpr int kReadWithWarnings = 16;  // an input was read, but not cleanly
constexpr int kPrematureEnd = 6;       // a script ended before its end-of-data line
constexpr int kErrSplitPair = 1;       // a split pair could not be written or read
constexpr int kErrWrongKind = 51;      // a file kind the phase cannot handle
constexpr int kErrVersion = 53;        // a table version that is not supported
constexpr int kErrScriptWrite = 4006;  // a write into a resource script failed
