// link/LinkEvents.h: the link events as the event list shows them, written once for the client
// that reports them and the status view that merges repeated attempts.
#pragma once

namespace msglink {

inline constexpr const char* kEventConnecting = "Соединение...";
inline constexpr const char* kEventConnected = "Соединение установлено.";
inline constexpr const char* kEventNetworkErrors = "Ошибки по сети - переподсоединение.";
inline constexpr const char* kEventServerDisconnect = "Сервер дал команду на рассоединение.";
inline constexpr const char* kEventAccessDenied = "Доступ запрещен.";

} // namespace msglink
