#include "platform/lines/LineKinds.h"

LineKinds::LineKinds(const LineServices& services)
    : switchboard_({services.network, services.clock, services.phonebook, services.dialupSettings}),
      comPorts_(services.comm),
      networkLines_(services.network, services.clock),
      modems_(switchboard_, services.network, services.clock, services.modemIdentity),
      catalog_({&networkLines_, &modems_}, comPorts_)
{
}
