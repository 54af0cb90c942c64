// SHM_OWNER: the user who feeds the boards, given as a uid or a user name.
//
// A name is looked up in the user database once while SHM_OWNER keeps the
// same text: a worker sees the same value request after request, and a
// lookup (files, or a directory server behind NSS) for every board read
// would cost more than the read. Only a found name is kept, so a lookup
// that failed is tried again at the next call. One thread.
#ifndef ZELVORA_SHM_BOARDOWNER_H_
#define ZELVORA_SHM_BOARDOWNER_H_

#include <sys/types.h>

// 1 with `uid` set; 0 when SHM_OWNER is unset or empty; -1 when it names
// no user (uid -1 is none).
int BoardOwner(uid_t& uid);

#endif  // ZELVORA_SHM_BOARDOWNER_H_
