// The host text comes from the command line and the names it resolves to
// come from a resolver: any of them must leave a sound identity or a clean
// refusal.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/text.h"
#include "fake_platform.h"
#include "host/host_identity.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The first byte chooses what the reverse lookup answers: the rest of the
  // input itself, so hostile names reach the identity too.
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  quorvex::FakeStage stage;
  stage.Fake.AddressOfName[quorvex::UpperCaseText(text)] = {10, 1, 2, 3};
  if (data[0] & 1) stage.Fake.NameOfAddress[{10, 1, 2, 3}] = text;
  quorvex::HostIdentity identity;
  const std::string hostText = quorvex::UpperCaseText(text);
  if (hostText.empty()) return 0;
  quorvex::IdentifyHost(stage.Env, hostText, identity);
  return 0;
}
