#include <memory>

#include "app/run_checks.h"
#include "core/platform.h"

int main(int argc, char** argv) {
  std::unique_ptr<quorvex::SystemPlatform> system = quorvex::OpenSystemPlatform(argc, argv);
  return quorvex::RunChecks(system->CommandText(), system->Services());
}
