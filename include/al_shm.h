// The installation's shared-memory segment (data dictionary copy).
#pragma once

struct DomainList;

// Attaches the installation's segment; 0 on success, -1 when there is none.
int link_shm();
// Detaches; logs "unlink_shm: Shared memory not attached" when nothing is.
int unlink_shm();
bool shm_attached();
// True when this process is itself the shared-memory loader.
bool shm_is_loader();
// Lookups in the segment; both may answer nullptr ("none").
const DomainList *shm_domain_list(const char *package);
const DomainList *shm_domain_list_by_path(const char *path);
// The System V key of the installation's segment: ftok("$KTE/lib", 'K').
int shm_key();
// Loader side (zel_shmload); both mark this process as the loader.
// Creates the installation's segment, or rewrites the header of the one
// there. 0, or -1 with errno set.
int shm_create();
// Removes the installation's segment. 0, or -1 with errno set (ENOENT: none).
int shm_remove();
