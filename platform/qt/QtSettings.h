// The settings kept between starts, in an INI file of the user's configuration folder
// ($XDG_CONFIG_HOME/kestrova/kestrova.conf, else ~/.config/kestrova/kestrova.conf).
#pragma once

#include <memory>
#include <string>

#include "platform/Platform.h"

class QSettings;

namespace kestrova::platform::qt {

class TQtSettings : public TSettings {
 public:
  // fileName empty: the user's file, as above.
  explicit TQtSettings(const std::string& fileName = {});
  ~TQtSettings() override;
  std::optional<std::string> Get(const std::string& key) override;
  void Set(const std::string& key, const std::string& value) override;
  std::string FileName() const;

 private:
  std::unique_ptr<QSettings> F;
};

}  // namespace kestrova::platform::qt
