// Data dictionary access for domains.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DomainList;

struct DomainRec {
    char name[13] = {}; // name within the package
    uint8_t type = 0;   // type code 1 to 18
    uint16_t length = 0;
    std::vector<std::string> values; // enumeration or set values
    const DomainList *list = nullptr;
};

struct DomainList {
    char package[3] = {};
    uint16_t count = 0;
    unsigned mode = 0;
    std::vector<DomainRec> records; // sorted by name
};

void init_shm_dd();
void init_local_dd();
const DomainRec *search_domain(const char *name);
const DomainRec *dddomain(const char *name);
const DomainList *read_domain_list(const char *package);
// Full name: package code followed by the name within the package. Writes
// into `buf` (at least 16 bytes) or, when nullptr, a static buffer.
const char *dddomainname_from_domain(const DomainRec *dom, char *buf);
uint32_t zelflag_of_domain(const DomainRec *dom);
uint32_t zelflag_of_column(uint8_t type, uint16_t options);
// Number of domain files opened so far (for tests).
int dd_file_opens();
// Forgets every loaded list (tests only).
void dd_reset();
