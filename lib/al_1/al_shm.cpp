// The installation's System V shared-memory segment. One segment per
// installation: its key is ftok("$KTE/lib", 'K') (with no installation home,
// "lib" relative to the current directory), so every process of the same
// installation finds the same segment. The loader command zel_shmload creates
// and removes it; the segment starts with a small header (magic text, layout
// version, loader pid, installation home) that an attaching process checks.
// The segment holds no data dictionary lists yet, so the two lookups answer
// "none" and the domain files are read from disk.
#include "al_shm.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "al_env.h"
#include "al_log.h"

namespace {

constexpr int SHM_PROJECT_ID = 'K';
constexpr size_t SHM_SIZE = 4096;
constexpr char SHM_MAGIC[8] = "KTESHM1";
constexpr uint32_t SHM_LAYOUT = 1;

struct ShmHeader {
    char magic[8];
    uint32_t layout;
    int32_t loader_pid;
    char home[1024];
};
static_assert(sizeof(ShmHeader) <= SHM_SIZE);

const ShmHeader *attached = nullptr;
bool loader = false;

std::string key_path() {
    std::string home = get_kte();
    return home.empty() ? "lib" : home + "/lib";
}

bool valid_header(const ShmHeader *h) {
    return memcmp(h->magic, SHM_MAGIC, sizeof SHM_MAGIC) == 0 && h->layout == SHM_LAYOUT;
}

// Attaches read-only; nullptr with errno set on failure.
const ShmHeader *attach_segment() {
    key_t key = shm_key();
    if (key == -1) return nullptr;
    int id = shmget(key, 0, 0);
    if (id < 0) return nullptr;
    void *addr = shmat(id, nullptr, SHM_RDONLY);
    if (addr == reinterpret_cast<void *>(-1)) return nullptr;
    const auto *h = static_cast<const ShmHeader *>(addr);
    if (!valid_header(h)) {
        shmdt(addr);
        errno = EINVAL;
        return nullptr;
    }
    return h;
}

} // namespace

int shm_key() {
    return int(ftok(key_path().c_str(), SHM_PROJECT_ID));
}

int link_shm() {
    if (attached) return 0;
    attached = attach_segment();
    if (attached) return 0;
    log_mesg("al_1/al_shm", __LINE__, "link_shm", 0,
             "Cannot link to shared memory (errno %d). Check whether shared memory is loaded and "
             "accessible. Note that mixing 32-bit and 64-bit binaries is not possible.",
             errno);
    return -1;
}

int unlink_shm() {
    if (!attached) {
        log_mesg("al_1/al_shm", __LINE__, "unlink_shm", 0,
                 "unlink_shm: Shared memory not attached\n");
        return -1;
    }
    shmdt(attached);
    attached = nullptr;
    return 0;
}

bool shm_attached() {
    return attached != nullptr;
}

bool shm_is_loader() {
    return loader;
}

const DomainList *shm_domain_list(const char *) {
    return nullptr;
}

const DomainList *shm_domain_list_by_path(const char *) {
    return nullptr;
}

int shm_create() {
    loader = true;
    key_t key = shm_key();
    if (key == -1) return -1;
    int id = shmget(key, SHM_SIZE, IPC_CREAT | 0644);
    if (id < 0) return -1;
    void *addr = shmat(id, nullptr, 0);
    if (addr == reinterpret_cast<void *>(-1)) return -1;
    ShmHeader h = {};
    memcpy(h.magic, SHM_MAGIC, sizeof SHM_MAGIC);
    h.layout = SHM_LAYOUT;
    h.loader_pid = int32_t(getpid());
    snprintf(h.home, sizeof h.home, "%s", get_kte());
    memcpy(addr, &h, sizeof h);
    shmdt(addr);
    return 0;
}

int shm_remove() {
    loader = true;
    key_t key = shm_key();
    if (key == -1) return -1;
    int id = shmget(key, 0, 0);
    if (id < 0) return -1;
    return shmctl(id, IPC_RMID, nullptr);
}
