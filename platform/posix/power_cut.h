// Power cuts on the emulated device, at an exact moment, for tests.
//
// Every persistent change of the device (a registry file replaced, a file created, written,
// renamed or deleted, a key the module's store keeps) calls NotePersistentChange once it is on
// disk. Unarmed (the usual case) that is a look at two environment variables. Armed, the changes
// of every process of the device are counted in one shared file:
//   QUILLON_POWER_CUT_COUNTER=FILE   the count (locked while it is read and written); each change
//                                    is appended to FILE.log as "N pid what"
//   QUILLON_POWER_CUT_AT=N           at change N (1 is the first; 0 only counts) the process
//                                    writes "N pid what" to FILE.cut and stops itself (SIGSTOP)
//                                    with the count still locked, so that a test can kill every
//                                    process of the device while nothing has moved on from that
//                                    change: a change that another process or thread makes
//                                    meanwhile is on disk, but its process waits for the lock.
#pragma once

#include <string_view>

namespace quillon::platform::posix {

void NotePersistentChange(std::string_view what);

}  // namespace quillon::platform::posix
