// What the endpoint offers: policy None or not, the secured policies when
// the server has its certificate, and what anonymous sessions may do.
#pragma once

#include <cstdint>

#include "tagserver/SecurityPolicy.h"

namespace tagserver {

enum class AnonymousAccess { Off, ReadOnly, ReadWrite };

struct EndpointSecurity {
  bool offerNone = true;
  bool offerSecure = false;
  AnonymousAccess anonymous = AnonymousAccess::ReadWrite;

  bool Offers(const SecurityPolicy& policy, SecurityMode mode) const {
    if (!policy.Secure()) return offerNone && mode == SecurityMode::None;
    return offerSecure && (mode == SecurityMode::Sign || mode == SecurityMode::SignAndEncrypt);
  }
  // A plain channel always opens, for the discovery services that tell a
  // client which endpoints there are; sessions need one that is offered.
  bool Opens(const SecurityPolicy& policy, SecurityMode mode) const {
    return Offers(policy, mode) || (!policy.Secure() && mode == SecurityMode::None);
  }
};

}  // namespace tagserver
