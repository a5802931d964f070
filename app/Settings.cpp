// app/Settings.cpp
#include "app/Settings.h"

namespace app {

MainSettings readMainSettings(const platform::IniFile& ini)
{
    MainSettings s;
    s.firstNumber = ini.integer("main", "FirstNumber", s.firstNumber);
    s.port = static_cast<std::uint16_t>(ini.integer("main", "DefaultPort", s.port));
    s.caption = ini.text("main", "caption", "");
    return s;
}

} // namespace app
