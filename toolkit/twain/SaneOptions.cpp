#include "toolkit/twain/SaneOptions.h"

#include <sane/saneopts.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <vector>

namespace pxtwain {

namespace {

constexpr double kMmPerTwip = 25.4 / 1440.0;  // the record's lengths are 1/1440 inch

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool Contains(const std::string& lowerText, const char* part) {
  return lowerText.find(part) != std::string::npos;
}

std::vector<std::string> StringList(const SANE_Option_Descriptor* d) {
  std::vector<std::string> items;
  if (d->constraint_type != SANE_CONSTRAINT_STRING_LIST || d->constraint.string_list == nullptr) return items;
  for (const SANE_String_Const* s = d->constraint.string_list; *s != nullptr; ++s) items.emplace_back(*s);
  return items;
}

double ToDouble(const SANE_Option_Descriptor* d, SANE_Word word) {
  return d->type == SANE_TYPE_FIXED ? SANE_UNFIX(word) : static_cast<double>(word);
}

SANE_Word ToWord(const SANE_Option_Descriptor* d, double value) {
  if (d->type == SANE_TYPE_FIXED) {
    value = std::clamp(value, -32767.0, 32767.0);
    return SANE_FIX(value);
  }
  value = std::clamp(value, -2147483647.0, 2147483647.0);
  return static_cast<SANE_Word>(std::lround(value));
}

// Where the constraint lets a value go: the nearest list entry, or the range's clamped, quantised value.
double Constrain(const SANE_Option_Descriptor* d, double value) {
  if (d->constraint_type == SANE_CONSTRAINT_RANGE && d->constraint.range != nullptr) {
    const SANE_Range* r = d->constraint.range;
    const double low = ToDouble(d, r->min);
    const double high = ToDouble(d, r->max);
    const double quant = ToDouble(d, r->quant);
    value = std::clamp(value, low, high);
    if (quant > 0) value = std::min(high, low + std::round((value - low) / quant) * quant);
  } else if (d->constraint_type == SANE_CONSTRAINT_WORD_LIST && d->constraint.word_list != nullptr) {
    const SANE_Word* list = d->constraint.word_list;
    double best = value;
    double bestDistance = -1;
    for (SANE_Word i = 1; i <= list[0]; ++i) {
      const double candidate = ToDouble(d, list[i]);
      const double distance = std::fabs(candidate - value);
      if (bestDistance < 0 || distance < bestDistance) {
        best = candidate;
        bestDistance = distance;
      }
    }
    value = best;
  }
  return value;
}

}  // namespace

bool SaneOptions::IsFeederName(const std::string& name) {
  const std::string lower = Lower(name);
  return Contains(lower, "adf") || Contains(lower, "feeder") || Contains(lower, "automatic document");
}

SaneOptions::Found SaneOptions::Find(const char* name) const {
  const SANE_Option_Descriptor* first = sane_get_option_descriptor(m_handle, 0);
  SANE_Int count = 0;
  if (first == nullptr ||
      sane_control_option(m_handle, 0, SANE_ACTION_GET_VALUE, &count, nullptr) != SANE_STATUS_GOOD)
    return {};
  for (SANE_Int i = 1; i < count; ++i) {
    const SANE_Option_Descriptor* d = sane_get_option_descriptor(m_handle, i);
    if (d == nullptr || d->name == nullptr || std::strcmp(d->name, name) != 0) continue;
    if (!SANE_OPTION_IS_ACTIVE(d->cap) || !SANE_OPTION_IS_SETTABLE(d->cap)) return {};
    return {i, d};
  }
  return {};
}

int SaneOptions::Refused(const char* name, SANE_Status status) {
  m_strError = std::string("setting \"") + name + "\": " + sane_strstatus(status);
  return PX_TWN_E_OPTION;
}

int SaneOptions::SetString(const char* name, const std::string& value) {
  const Found f = Find(name);
  if (f.index < 0 || f.descriptor->type != SANE_TYPE_STRING) return PX_TWN_E_OPTION;
  std::vector<char> buffer(std::max<size_t>(f.descriptor->size, value.size() + 1), '\0');
  std::memcpy(buffer.data(), value.c_str(), value.size());
  const SANE_Status status =
      sane_control_option(m_handle, f.index, SANE_ACTION_SET_VALUE, buffer.data(), nullptr);
  return status == SANE_STATUS_GOOD ? PX_TWN_OK : Refused(name, status);
}

bool SaneOptions::GetString(const char* name, std::string& value) const {
  const Found f = Find(name);
  if (f.index < 0 || f.descriptor->type != SANE_TYPE_STRING || f.descriptor->size <= 0) return false;
  std::vector<char> buffer(static_cast<size_t>(f.descriptor->size) + 1, '\0');
  if (sane_control_option(m_handle, f.index, SANE_ACTION_GET_VALUE, buffer.data(), nullptr) !=
      SANE_STATUS_GOOD)
    return false;
  value = buffer.data();
  return true;
}

int SaneOptions::SetNumber(const char* name, double value) {
  const Found f = Find(name);
  if (f.index < 0) return PX_TWN_E_OPTION;
  const SANE_Option_Descriptor* d = f.descriptor;
  if ((d->type != SANE_TYPE_INT && d->type != SANE_TYPE_FIXED) || d->size != sizeof(SANE_Word))
    return PX_TWN_E_OPTION;
  SANE_Word word = ToWord(d, Constrain(d, value));
  const SANE_Status status = sane_control_option(m_handle, f.index, SANE_ACTION_SET_VALUE, &word, nullptr);
  return status == SANE_STATUS_GOOD ? PX_TWN_OK : Refused(name, status);
}

bool SaneOptions::GetNumber(const char* name, double& value) const {
  const Found f = Find(name);
  if (f.index < 0 || (f.descriptor->type != SANE_TYPE_INT && f.descriptor->type != SANE_TYPE_FIXED) ||
      f.descriptor->size != sizeof(SANE_Word))
    return false;
  SANE_Word word = 0;
  if (sane_control_option(m_handle, f.index, SANE_ACTION_GET_VALUE, &word, nullptr) != SANE_STATUS_GOOD)
    return false;
  value = ToDouble(f.descriptor, word);
  return true;
}

bool SaneOptions::Range(const char* name, double& low, double& high) const {
  const Found f = Find(name);
  if (f.index < 0 || (f.descriptor->type != SANE_TYPE_INT && f.descriptor->type != SANE_TYPE_FIXED))
    return false;
  const SANE_Option_Descriptor* d = f.descriptor;
  if (d->constraint_type == SANE_CONSTRAINT_RANGE && d->constraint.range != nullptr) {
    low = ToDouble(d, d->constraint.range->min);
    high = ToDouble(d, d->constraint.range->max);
    return true;
  }
  if (d->constraint_type == SANE_CONSTRAINT_WORD_LIST && d->constraint.word_list != nullptr &&
      d->constraint.word_list[0] > 0) {
    low = high = ToDouble(d, d->constraint.word_list[1]);
    for (SANE_Word i = 1; i <= d->constraint.word_list[0]; ++i) {
      low = std::min(low, ToDouble(d, d->constraint.word_list[i]));
      high = std::max(high, ToDouble(d, d->constraint.word_list[i]));
    }
    return true;
  }
  return false;
}

int SaneOptions::SetBool(const char* name, bool value) {
  const Found f = Find(name);
  if (f.index < 0 || f.descriptor->type != SANE_TYPE_BOOL) return PX_TWN_E_OPTION;
  SANE_Bool word = value ? SANE_TRUE : SANE_FALSE;
  const SANE_Status status = sane_control_option(m_handle, f.index, SANE_ACTION_SET_VALUE, &word, nullptr);
  return status == SANE_STATUS_GOOD ? PX_TWN_OK : Refused(name, status);
}

int SaneOptions::SetScaled(const char* name, int value) {
  if (value == PX_TWN_NOT_GIVEN) return PX_TWN_OK;
  double low = 0;
  double high = 0;
  if (!Range(name, low, high)) return PX_TWN_OK;  // the device has no such control
  const double t = (std::clamp(value, -1000, 1000) + 1000) / 2000.0;
  return SetNumber(name, low + t * (high - low));
}

int SaneOptions::ApplyMode(int pixelType) {
  if (pixelType < 0) return PX_TWN_OK;
  const Found mode = Find(SANE_NAME_SCAN_MODE);
  std::string chosen;
  if (mode.index >= 0) {
    for (const std::string& item : StringList(mode.descriptor)) {
      const std::string lower = Lower(item);
      const bool bw = Contains(lower, "lineart") || Contains(lower, "binary") || Contains(lower, "black") ||
                      lower == "bw" || Contains(lower, "monochrome");
      const bool grey = !bw && (Contains(lower, "gray") || Contains(lower, "grey"));
      const bool colour = Contains(lower, "color") || Contains(lower, "colour") || lower == "rgb";
      if ((pixelType == PX_TWN_PIXEL_BW && bw) || (pixelType == PX_TWN_PIXEL_GRAY && grey) ||
          (pixelType == PX_TWN_PIXEL_RGB && colour)) {
        chosen = item;
        break;
      }
    }
    if (chosen.empty() && pixelType == PX_TWN_PIXEL_BW) {
      // Line art as one-bit grey, where the device only knows depths.
      for (const std::string& item : StringList(mode.descriptor)) {
        const std::string lower = Lower(item);
        if (Contains(lower, "gray") || Contains(lower, "grey")) chosen = item;
      }
    }
    if (chosen.empty()) {
      m_strError = "the device offers no mode for pixel type " + std::to_string(pixelType);
      return PX_TWN_E_OPTION;
    }
    if (int rc = SetString(SANE_NAME_SCAN_MODE, chosen); rc != PX_TWN_OK) return rc;
  }
  // Depth per sample: 1 for line art, else 8 (the library delivers 8 and 24 bits per pixel). A true
  // line-art mode usually makes the depth option inactive, and Find then skips it.
  if (Find(SANE_NAME_BIT_DEPTH).index >= 0) {
    if (int rc = SetNumber(SANE_NAME_BIT_DEPTH, pixelType == PX_TWN_PIXEL_BW ? 1 : 8); rc != PX_TWN_OK)
      return rc;
  }
  return PX_TWN_OK;
}

int SaneOptions::ApplyArea(const PxTwainProps& props) {
  const Found tlx = Find(SANE_NAME_SCAN_TL_X);
  if (tlx.index < 0) return PX_TWN_OK;  // a device without area options scans its whole area
  double scale = kMmPerTwip;
  if (tlx.descriptor->unit == SANE_UNIT_PIXEL) {
    double dpi = 0;
    if (!GetNumber(SANE_NAME_SCAN_RESOLUTION, dpi) || dpi <= 0) return PX_TWN_OK;
    scale = dpi / 1440.0;
  }
  const double left = std::max(0, props.left) * scale;
  const double top = std::max(0, props.top) * scale;
  // The top-left corner first, so that a shrinking area never passes through an inverted one.
  if (int rc = SetNumber(SANE_NAME_SCAN_TL_X, left); rc != PX_TWN_OK) return rc;
  if (int rc = SetNumber(SANE_NAME_SCAN_TL_Y, top); rc != PX_TWN_OK) return rc;
  double low = 0;
  double high = 0;
  if (props.width > 0) {
    if (int rc = SetNumber(SANE_NAME_SCAN_BR_X, left + props.width * scale); rc != PX_TWN_OK) return rc;
  } else if (props.width == 0 && Range(SANE_NAME_SCAN_BR_X, low, high)) {
    SetNumber(SANE_NAME_SCAN_BR_X, high);
  }
  if (props.height > 0) {
    if (int rc = SetNumber(SANE_NAME_SCAN_BR_Y, top + props.height * scale); rc != PX_TWN_OK) return rc;
  } else if (props.height == 0 && Range(SANE_NAME_SCAN_BR_Y, low, high)) {
    SetNumber(SANE_NAME_SCAN_BR_Y, high);
  }
  return PX_TWN_OK;
}

int SaneOptions::ApplySource(int source) {
  if (source == PX_TWN_SOURCE_DEVICE) return PX_TWN_OK;
  const Found f = Find(SANE_NAME_SCAN_SOURCE);
  if (f.index < 0) return PX_TWN_OK;
  std::string chosen;
  for (const std::string& item : StringList(f.descriptor)) {
    const bool feeder = IsFeederName(item);
    const bool duplex = Contains(Lower(item), "duplex");
    if (source == PX_TWN_SOURCE_FEEDER && feeder && !duplex) {
      chosen = item;
      break;
    }
    if (source == PX_TWN_SOURCE_FLATBED && !feeder && chosen.empty()) chosen = item;
  }
  // A feeder asked of a device without one scans from where the device is set: the glass.
  if (chosen.empty()) return PX_TWN_OK;
  return SetString(SANE_NAME_SCAN_SOURCE, chosen);
}

int SaneOptions::Resolution() const {
  double dpi = 0;
  return GetNumber(SANE_NAME_SCAN_RESOLUTION, dpi) && dpi > 0 && dpi < 1e6
             ? static_cast<int>(std::lround(dpi))
             : 0;
}

bool SaneOptions::FeederSelected() {
  std::string value;
  return GetString(SANE_NAME_SCAN_SOURCE, value) && IsFeederName(value);
}

int SaneOptions::Apply(const PxTwainProps& props, bool preview) {
  m_strError.clear();
  // Order matters: the source and the mode change the ranges of what follows.
  if (int rc = ApplySource(props.feederSource); rc != PX_TWN_OK) return rc;
  if (int rc = ApplyMode(props.pixelType); rc != PX_TWN_OK) return rc;
  if (props.resolution > 0) {
    if (int rc = SetNumber(SANE_NAME_SCAN_RESOLUTION, props.resolution);
        rc != PX_TWN_OK && Find(SANE_NAME_SCAN_RESOLUTION).index >= 0)
      return rc;
  }
  if (int rc = ApplyArea(props); rc != PX_TWN_OK) return rc;
  if (int rc = SetScaled(SANE_NAME_BRIGHTNESS, props.brightness); rc != PX_TWN_OK) return rc;
  if (int rc = SetScaled(SANE_NAME_CONTRAST, props.contrast); rc != PX_TWN_OK) return rc;
  if (Find(SANE_NAME_PREVIEW).index >= 0) {
    if (int rc = SetBool(SANE_NAME_PREVIEW, preview); rc != PX_TWN_OK) return rc;
  }
  return PX_TWN_OK;
}

int SaneOptions::ApplyPreview() {
  PxTwainProps props{};
  props.pixelType = PX_TWN_PIXEL_RGB;
  props.bitDepth = 24;
  props.resolution = 50;
  props.width = 0;  // 0: the whole area
  props.height = 0;
  props.brightness = PX_TWN_NOT_GIVEN;
  props.contrast = PX_TWN_NOT_GIVEN;
  props.feederSource = PX_TWN_SOURCE_DEVICE;
  return Apply(props, true);
}

void SaneOptions::Describe(PxTwnDeviceOptions& options) {
  options = PxTwnDeviceOptions{};
  const Found mode = Find(SANE_NAME_SCAN_MODE);
  if (mode.index >= 0) {
    for (const std::string& item : StringList(mode.descriptor)) {
      const std::string lower = Lower(item);
      if (Contains(lower, "lineart") || Contains(lower, "binary") || Contains(lower, "black") ||
          Contains(lower, "monochrome"))
        options.pixelTypes |= 1 << PX_TWN_PIXEL_BW;
      else if (Contains(lower, "gray") || Contains(lower, "grey"))
        options.pixelTypes |= (1 << PX_TWN_PIXEL_GRAY) | (1 << PX_TWN_PIXEL_BW);  // line art as 1-bit grey
      else if (Contains(lower, "color") || Contains(lower, "colour") || lower == "rgb")
        options.pixelTypes |= 1 << PX_TWN_PIXEL_RGB;
    }
  }
  const Found res = Find(SANE_NAME_SCAN_RESOLUTION);
  if (res.index >= 0) {
    const SANE_Option_Descriptor* d = res.descriptor;
    std::vector<int> offered;
    if (d->constraint_type == SANE_CONSTRAINT_WORD_LIST && d->constraint.word_list != nullptr) {
      for (SANE_Word i = 1; i <= d->constraint.word_list[0]; ++i)
        offered.push_back(static_cast<int>(std::lround(ToDouble(d, d->constraint.word_list[i]))));
    } else {
      for (int dpi : {75, 100, 150, 200, 300, 400, 600, 1200}) {
        const int near = static_cast<int>(std::lround(Constrain(d, dpi)));
        if (near == dpi) offered.push_back(dpi);
      }
    }
    std::sort(offered.begin(), offered.end());
    offered.erase(std::unique(offered.begin(), offered.end()), offered.end());
    for (int dpi : offered) {
      if (options.resolutionCount == PX_TWN_MAX_CHOICES) break;
      options.resolutions[options.resolutionCount++] = dpi;
    }
  }
  double low = 0;
  double high = 0;
  const Found brx = Find(SANE_NAME_SCAN_BR_X);
  if (brx.index >= 0 && brx.descriptor->unit == SANE_UNIT_MM) {
    if (Range(SANE_NAME_SCAN_BR_X, low, high)) options.maxWidth = static_cast<int32_t>(high / kMmPerTwip);
    if (Range(SANE_NAME_SCAN_BR_Y, low, high)) options.maxHeight = static_cast<int32_t>(high / kMmPerTwip);
  }
  options.hasBrightness = Range(SANE_NAME_BRIGHTNESS, low, high) ? 1 : 0;
  options.hasContrast = Range(SANE_NAME_CONTRAST, low, high) ? 1 : 0;
  const Found source = Find(SANE_NAME_SCAN_SOURCE);
  if (source.index >= 0) {
    for (const std::string& item : StringList(source.descriptor)) {
      if (options.sourceCount == PX_TWN_MAX_CHOICES) break;
      if (IsFeederName(item)) options.hasFeeder = 1;
      std::snprintf(options.sources[options.sourceCount++], PX_TWN_CHOICE_LEN + 1, "%s", item.c_str());
    }
  }
  options.hasPreview = Find(SANE_NAME_PREVIEW).index >= 0 ? 1 : 0;
}

}  // namespace pxtwain
