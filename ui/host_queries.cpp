#include "ui/host_queries.h"

#include "net/host_name.h"
#include "net/local_addresses.h"

namespace orvanel {

HostQueries SystemHostQueries() { return {LocalHostName, LocalAddressTexts}; }

}  // namespace orvanel
