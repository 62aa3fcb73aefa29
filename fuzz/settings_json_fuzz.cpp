// Decodes arbitrary bytes as stored Settings. Whatever decodes must be writable again and must read back
// as the same record, or a setting the user saw applied would be lost at the next save.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/settings.h"
#include "fuzz/fuzz_input.h"

using namespace quillmark;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::optional<Settings> decoded =
      Settings::fromJSON(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!decoded) return 0;
  const std::optional<std::string> written = decoded->toJSON();
  FUZZ_CHECK(written.has_value());
  FUZZ_CHECK(Settings::fromJSON(*written) == decoded);
  return 0;
}
