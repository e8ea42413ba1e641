#pragma once
// A resolver that never answers, for the test programs that link
// hanging_resolver.cpp: it replaces the system's getaddrinfo, and a name
// ending in ".hang.test" blocks (as behind a DNS server that is down) until
// ReleaseHungLookups. Every other name goes to the system's resolver.
namespace qv::test {

// Lookups blocked in the stand-in right now.
int HungLookups();
// Lets every blocked lookup (and any later one) fail at once.
void ReleaseHungLookups();
// Blocks lookups of .hang.test names again.
void HangLookupsAgain();

}  // namespace qv::test
