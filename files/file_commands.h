// The file commands: reading files ahead into the preload cache, saving layer images, creating,
// copying and deleting files and folders, starting programs, and the file queries.
#pragma once

#include <string>

// Commands 21 and 22.
int CmdFile();
int CmdFileQuery();

// Reads `name` (kind RESOURCE_IMAGE or RESOURCE_SOUND) into cache group `group` (0..3) whose
// current count is `count`; a full group drops its oldest entry. A file already cached in the
// same group moves to the newest place without being read again. A name no source has is left
// alone. 0, or -1 when the name cannot be resolved, the group is refused or the read failed.
int AddToPreloadCache(int group, int32_t count, char* name, int kind, bool groupFull);
// Frees the slot's name and moves the later slots of the group down by one; the count and the
// data stay as they are (the caller owns the moved entry).
int RemoveFromPreloadCache(int group, int32_t slot);
// Empties every group, freeing names and data (program end).
void FreePreloadCache();
// Whether any file source holds `name`.
bool DataFileExists(const char* name);
// Creates every folder along an engine path, up to its last '\'. Existing folders are passed
// over; failures are silent.
int CreateFolderPath(const char* path);

// The program that opens documents (and answers the associated-program query): the desktop's
// opener by default; tests point it at a harmless program.
extern std::string g_DocumentOpener;
