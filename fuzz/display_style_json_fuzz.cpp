// Decodes arbitrary bytes as a stored DisplayStyle. Whatever decodes must be writable again and must read
// back as the same style, or the display would change look at the next start.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/display_style.h"
#include "fuzz/fuzz_input.h"

using namespace quillmark;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::optional<DisplayStyle> decoded =
      DisplayStyle::fromJSON(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!decoded) return 0;
  const std::optional<std::string> written = decoded->toJSON();
  FUZZ_CHECK(written.has_value());
  FUZZ_CHECK(DisplayStyle::fromJSON(*written) == decoded);
  return 0;
}
