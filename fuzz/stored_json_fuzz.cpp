// Decodes arbitrary bytes as a stored record: Settings in settings_json_fuzz, DisplayStyle in
// display_style_json_fuzz (QM_FUZZ_RECORD names it). Whatever decodes must be writable again and must read
// back as the same record, or a setting the user saw applied, or the display's look, would be lost at the
// next save.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/display_style.h"
#include "app/settings.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using Record = quillmark::QM_FUZZ_RECORD;
  const std::optional<Record> decoded =
      Record::fromJSON(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!decoded) return 0;
  const std::optional<std::string> written = decoded->toJSON();
  FUZZ_CHECK(written.has_value());
  FUZZ_CHECK(Record::fromJSON(*written) == decoded);
  return 0;
}
