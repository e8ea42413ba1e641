// The shared object's load hook (the ELF loader has no attach callback);
// linked only into quorvelone.tsp.
#include "platform/module.h"
#include "provider/provider_state.h"

namespace {

__attribute__((constructor)) void libraryLoaded() { qv::AttachProcess(qv::ownModuleHandle()); }

}  // namespace
