// STUB: replaced by the shared-memory module.
#include "al_shm.h"

int link_shm() { return 0; }
int unlink_shm() { return 0; }
bool shm_attached() { return false; }
bool shm_is_loader() { return false; }
const DomainList *shm_domain_list(const char *) { return nullptr; }
const DomainList *shm_domain_list_by_path(const char *) { return nullptr; }
int shm_key() { return 0; }
