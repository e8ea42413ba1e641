#include "tools/tsphost/call_names.h"

#include <cstdio>
#include <utility>
#include <vector>

#include "platform/tapi.h"

namespace qv::tsphost {

namespace {

using Names = std::vector<std::pair<std::uint32_t, const char*>>;

std::string joined(std::uint32_t value, const Names& names) {
  std::string out;
  for (const auto& [bit, name] : names) {
    if ((value & bit) == 0) continue;
    if (!out.empty()) out += '|';
    out += name;
    value &= ~bit;
  }
  if (value != 0) {
    char rest[16];
    std::snprintf(rest, sizeof rest, "0x%X", static_cast<unsigned>(value));
    if (!out.empty()) out += '|';
    out += rest;
  }
  return out;
}

const Names kStates = {
    {LINECALLSTATE_IDLE, "IDLE"},
    {LINECALLSTATE_OFFERING, "OFFERING"},
    {LINECALLSTATE_ACCEPTED, "ACCEPTED"},
    {LINECALLSTATE_DIALTONE, "DIALTONE"},
    {LINECALLSTATE_DIALING, "DIALING"},
    {LINECALLSTATE_RINGBACK, "RINGBACK"},
    {LINECALLSTATE_BUSY, "BUSY"},
    {LINECALLSTATE_SPECIALINFO, "SPECIALINFO"},
    {LINECALLSTATE_CONNECTED, "CONNECTED"},
    {LINECALLSTATE_PROCEEDING, "PROCEEDING"},
    {LINECALLSTATE_ONHOLD, "ONHOLD"},
    {LINECALLSTATE_CONFERENCED, "CONFERENCED"},
    {LINECALLSTATE_ONHOLDPENDCONF, "ONHOLDPENDCONF"},
    {LINECALLSTATE_ONHOLDPENDTRANSFER, "ONHOLDPENDTRANSFER"},
    {LINECALLSTATE_DISCONNECTED, "DISCONNECTED"},
    {LINECALLSTATE_UNKNOWN, "UNKNOWN"},
};

const Names kDisconnectModes = {
    {LINEDISCONNECTMODE_NORMAL, "NORMAL"},
    {LINEDISCONNECTMODE_UNKNOWN, "UNKNOWN"},
    {LINEDISCONNECTMODE_REJECT, "REJECT"},
    {LINEDISCONNECTMODE_PICKUP, "PICKUP"},
    {LINEDISCONNECTMODE_FORWARDED, "FORWARDED"},
    {LINEDISCONNECTMODE_BUSY, "BUSY"},
    {LINEDISCONNECTMODE_NOANSWER, "NOANSWER"},
    {LINEDISCONNECTMODE_BADADDRESS, "BADADDRESS"},
    {LINEDISCONNECTMODE_UNREACHABLE, "UNREACHABLE"},
    {LINEDISCONNECTMODE_CONGESTION, "CONGESTION"},
    {LINEDISCONNECTMODE_INCOMPATIBLE, "INCOMPATIBLE"},
    {LINEDISCONNECTMODE_UNAVAIL, "UNAVAIL"},
    {LINEDISCONNECTMODE_NODIALTONE, "NODIALTONE"},
};

const Names kDialToneModes = {
    {LINEDIALTONEMODE_NORMAL, "NORMAL"},     {LINEDIALTONEMODE_SPECIAL, "SPECIAL"},
    {LINEDIALTONEMODE_INTERNAL, "INTERNAL"}, {LINEDIALTONEMODE_EXTERNAL, "EXTERNAL"},
    {LINEDIALTONEMODE_UNKNOWN, "UNKNOWN"},   {LINEDIALTONEMODE_UNAVAIL, "UNAVAIL"}};

const Names kBusyModes = {{LINEBUSYMODE_STATION, "STATION"},
                          {LINEBUSYMODE_TRUNK, "TRUNK"},
                          {LINEBUSYMODE_UNKNOWN, "UNKNOWN"},
                          {LINEBUSYMODE_UNAVAIL, "UNAVAIL"}};

const Names kOfferingModes = {{LINEOFFERINGMODE_ACTIVE, "ACTIVE"}, {LINEOFFERINGMODE_INACTIVE, "INACTIVE"}};

const Names kConnectedModes = {{LINECONNECTEDMODE_ACTIVE, "ACTIVE"},
                               {LINECONNECTEDMODE_INACTIVE, "INACTIVE"},
                               {LINECONNECTEDMODE_ACTIVEHELD, "ACTIVEHELD"},
                               {LINECONNECTEDMODE_INACTIVEHELD, "INACTIVEHELD"},
                               {LINECONNECTEDMODE_CONFIRMED, "CONFIRMED"}};

const Names kInfoStates = {
    {LINECALLINFOSTATE_OTHER, "OTHER"},
    {LINECALLINFOSTATE_BEARERMODE, "BEARERMODE"},
    {LINECALLINFOSTATE_MEDIAMODE, "MEDIAMODE"},
    {LINECALLINFOSTATE_CALLID, "CALLID"},
    {LINECALLINFOSTATE_ORIGIN, "ORIGIN"},
    {LINECALLINFOSTATE_REASON, "REASON"},
    {LINECALLINFOSTATE_CALLERID, "CALLERID"},
    {LINECALLINFOSTATE_CALLEDID, "CALLEDID"},
    {LINECALLINFOSTATE_CONNECTEDID, "CONNECTEDID"},
    {LINECALLINFOSTATE_REDIRECTIONID, "REDIRECTIONID"},
    {LINECALLINFOSTATE_REDIRECTINGID, "REDIRECTINGID"},
};

const Names kOrigins = {{LINECALLORIGIN_OUTBOUND, "OUTBOUND"}, {LINECALLORIGIN_INTERNAL, "INTERNAL"},
                        {LINECALLORIGIN_EXTERNAL, "EXTERNAL"}, {LINECALLORIGIN_UNKNOWN, "UNKNOWN"},
                        {LINECALLORIGIN_UNAVAIL, "UNAVAIL"},   {LINECALLORIGIN_CONFERENCE, "CONFERENCE"},
                        {LINECALLORIGIN_INBOUND, "INBOUND"}};

const Names kReasons = {{LINECALLREASON_DIRECT, "DIRECT"},           {LINECALLREASON_FWDBUSY, "FWDBUSY"},
                        {LINECALLREASON_FWDNOANSWER, "FWDNOANSWER"}, {LINECALLREASON_FWDUNCOND, "FWDUNCOND"},
                        {LINECALLREASON_PICKUP, "PICKUP"},           {LINECALLREASON_REDIRECT, "REDIRECT"},
                        {LINECALLREASON_TRANSFER, "TRANSFER"},       {LINECALLREASON_UNKNOWN, "UNKNOWN"},
                        {LINECALLREASON_UNAVAIL, "UNAVAIL"}};

const Names kPartyIdFlags = {{LINECALLPARTYID_BLOCKED, "BLOCKED"}, {LINECALLPARTYID_OUTOFAREA, "OUTOFAREA"},
                             {LINECALLPARTYID_NAME, "NAME"},       {LINECALLPARTYID_ADDRESS, "ADDRESS"},
                             {LINECALLPARTYID_PARTIAL, "PARTIAL"}, {LINECALLPARTYID_UNKNOWN, "UNKNOWN"},
                             {LINECALLPARTYID_UNAVAIL, "UNAVAIL"}};

const Names kCallFeatures = {
    {LINECALLFEATURE_ACCEPT, "ACCEPT"},
    {LINECALLFEATURE_ANSWER, "ANSWER"},
    {LINECALLFEATURE_BLINDTRANSFER, "BLINDTRANSFER"},
    {LINECALLFEATURE_DROP, "DROP"},
    {LINECALLFEATURE_HOLD, "HOLD"},
    {LINECALLFEATURE_REDIRECT, "REDIRECT"},
    {LINECALLFEATURE_UNHOLD, "UNHOLD"},
    {LINECALLFEATURE_DIAL, "DIAL"},
    {LINECALLFEATURE_COMPLETETRANSF, "COMPLETETRANSF"},
    {LINECALLFEATURE_SETUPTRANSFER, "SETUPTRANSFER"},
    {LINECALLFEATURE_SWAPHOLD, "SWAPHOLD"},
};

}  // namespace

std::string callStateName(std::uint32_t state) { return state == 0 ? "none" : joined(state, kStates); }

std::string callStateModeNames(std::uint32_t state, std::uint32_t mode) {
  if (mode == 0) return {};
  switch (state) {
    case LINECALLSTATE_DISCONNECTED:
      return joined(mode, kDisconnectModes);
    case LINECALLSTATE_DIALTONE:
      return joined(mode, kDialToneModes);
    case LINECALLSTATE_BUSY:
      return joined(mode, kBusyModes);
    case LINECALLSTATE_OFFERING:
      return joined(mode, kOfferingModes);
    case LINECALLSTATE_CONNECTED:
      return joined(mode, kConnectedModes);
    default:
      return joined(mode, {});
  }
}

std::string callInfoStateNames(std::uint32_t infoStates) { return joined(infoStates, kInfoStates); }
std::string callOriginNames(std::uint32_t origin) { return joined(origin, kOrigins); }
std::string callReasonNames(std::uint32_t reason) { return joined(reason, kReasons); }
std::string partyIdFlagNames(std::uint32_t flags) { return joined(flags, kPartyIdFlags); }
std::string callFeatureNames(std::uint32_t features) { return joined(features, kCallFeatures); }

}  // namespace qv::tsphost
