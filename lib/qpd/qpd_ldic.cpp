// STUB: replaced by the data dictionary reader.
#include "qpd.h"

void init_local_dd() {}
const DomainRec *search_domain(const char *) { return nullptr; }
const DomainRec *dddomain(const char *) { return nullptr; }
const DomainList *read_domain_list(const char *) { return nullptr; }
const char *dddomainname_from_domain(const DomainRec *, char *) { return ""; }
uint32_t zelflag_of_domain(const DomainRec *) { return 0; }
uint32_t zelflag_of_column(uint8_t, uint16_t) { return 0; }
int dd_file_opens() { return 0; }
void dd_reset() {}
