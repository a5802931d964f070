// link/LinkEvents.h: the link events as the event list shows them, written once for the client
// that reports them and the status view that merges repeated attempts.
#pragma once

namespace msglink {

inline constexpr const char* kEventConnecting = "Соединение...";
inline constexpr const char* kEventConnected = "Соединение установлено.";
inline constexpr const char* kEventNetworkErrors = "Ошибки по сети - переподсоединение.";
inline constexpr const char* kEventServerDisconnect = "Сервер дал команду на рассоединение.";
inline constexpr const char* kEventAccessDenied = "Доступ запрещен.";

// The backlog cannot be written (followed by ": " and the reason): trackers are no longer
// acknowledged until it can; and the line once it can again.
inline constexpr const char* kEventBacklogFailing =
    "Ошибка записи очереди сообщений - пакеты не подтверждаются";
inline constexpr const char* kEventBacklogRecovered = "Запись очереди сообщений восстановлена.";

} // namespace msglink
