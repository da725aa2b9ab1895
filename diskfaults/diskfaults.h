#pragma once

// Disk faults for the tests, injected below the program: the library takes
// the C library's place for write, fsync/fdatasync, rename and open, so Qt
// and the program meet the failure exactly as on a full or broken disk.
// Linked into a test, it interposes for the whole process (Linux).

#ifdef __cplusplus
extern "C" {
#endif

// Arms one fault for files whose path contains `within` and, if `except` is
// not empty, does not contain it. op is "write" (calls fail with error once
// afterBytes bytes have gone to such files; the write that crosses the mark
// is cut short there, as on a disk that fills), "sync" (fsync, fdatasync),
// "rename" (rename, renameat, renameat2, linkat, on the new name) or "open"
// (opening for writing). With hang set the call waits until the fault is
// cleared instead of failing. "slowsync" fails nothing: a healthy but slow
// disk, whose fsync of such files takes as long as the bytes written to them
// since the last one need at afterBytes bytes a second.
void korvel_fault_arm(const char *op, const char *within, const char *except, long long afterBytes,
                      int error, int hang);
void korvel_fault_clear(void);
// How many calls failed (or hung) since the last arm.
long korvel_fault_count(void);

#ifdef __cplusplus
}
#endif
