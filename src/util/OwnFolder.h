// Whether a folder is safe to put a file or socket of ours in: a folder
// that anyone but root and this user may write lets them make the name first.
#ifndef ZELVORA_UTIL_OWNFOLDER_H_
#define ZELVORA_UTIL_OWNFOLDER_H_

// The reason folder `descriptor` may not hold our file ("has a folder ..."),
// or null when root or this user owns it and no one else may write it.
const char* UnfitFolder(int descriptor);

#endif  // ZELVORA_UTIL_OWNFOLDER_H_
