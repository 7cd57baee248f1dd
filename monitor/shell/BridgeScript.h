#pragma once

// The script put into every skin page before the page's own scripts run. It makes
// window.external: any name called on it returns a promise; the call (name and arguments as one
// array) goes over the web channel to the window's external object, which answers {result} or
// {error}. Calls made before the channel is up (inline scripts of the page) are kept and sent in
// order once it is. Pages that are not skin pages never get it.

#include <QString>

namespace gardivo {

QString bridgeScriptSource();

// A script text wrapped so that running it tells whether it ran: true when it finished, false
// when it threw (a page function missing or failing).
QString guardedScript(const QString& script);

} // namespace gardivo
