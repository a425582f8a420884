// The settings of one open SANE device, by well-known option name: turns the property record into
// SANE option values (mode, depth, resolution, area from the top-left corner, brightness, contrast,
// source, preview) and describes what the device offers for the source's own dialog. Values are
// brought inside the device's constraints (nearest offered value, clamped ranges) rather than refused;
// a setting the device refuses outright gives PX_TWN_E_OPTION with the option's name in the error text.
#pragma once

#include <sane/sane.h>

#include <string>

#include "pxtwain/PxTwainApi.h"

namespace pxtwain {

class SaneOptions {
 public:
  explicit SaneOptions(SANE_Handle handle) : m_handle(handle) {}

  // Applies every field of the record that is not "device setting". preview: the preview option.
  int Apply(const PxTwainProps& props, bool preview);
  // Settings of a preview: colour, the lowest offered resolution of at least 50 dpi, the whole area.
  int ApplyPreview();
  void Describe(PxTwnDeviceOptions& options);
  // The source option's value names a feeder.
  bool FeederSelected();
  // The resolution the device is set to, 0 when it has no such option.
  int Resolution() const;
  const std::string& ErrorText() const { return m_strError; }

  static bool IsFeederName(const std::string& name);
  // The file SANE's pnm backend scans (its "filename" option); other devices lack the option.
  int SetFileName(const std::string& file) { return SetString("filename", file); }

 private:
  struct Found {
    SANE_Int index = -1;
    const SANE_Option_Descriptor* descriptor = nullptr;
  };
  // An active, settable option of that name; index -1 when there is none.
  Found Find(const char* name) const;
  int SetString(const char* name, const std::string& value);
  // Sets a number (in the option's unit) to the nearest value the constraint allows.
  int SetNumber(const char* name, double value);
  bool GetNumber(const char* name, double& value) const;
  bool GetString(const char* name, std::string& value) const;
  bool Range(const char* name, double& low, double& high) const;
  int SetBool(const char* name, bool value);
  // Maps -1000..1000 onto the option's range.
  int SetScaled(const char* name, int value);
  int ApplyMode(int pixelType);
  int ApplyArea(const PxTwainProps& props);
  int ApplySource(int source);
  int Refused(const char* name, SANE_Status status);

  SANE_Handle m_handle;
  std::string m_strError;
};

}  // namespace pxtwain
