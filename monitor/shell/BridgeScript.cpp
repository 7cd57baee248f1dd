#include "BridgeScript.h"

#include <QFile>

namespace gardivo {

namespace {

const char* const kStub = R"JS(
    var backend = null;
    var queue = [];
    // JSON carries no NaN or infinities; they travel tagged.
    function encode(value) {
        if (typeof value === 'number' && !isFinite(value))
            return { gardivoNumber: String(value) };
        return value === undefined ? null : value;
    }
    // Arguments nested deeper than any method takes (or that refer to themselves) would not
    // survive the channel's message and leave the call unanswered: they are refused at once.
    var kDeepest = 32;
    function tooDeep(value) {
        var stack = [[value, 0]], seen = 0;
        while (stack.length) {
            var item = stack.pop();
            if (item[0] === null || typeof item[0] !== 'object')
                continue;
            if (item[1] >= kDeepest || ++seen > 100000)
                return true;
            for (var key in item[0])
                if (Object.prototype.hasOwnProperty.call(item[0], key))
                    stack.push([item[0][key], item[1] + 1]);
        }
        return false;
    }
    function mismatch(reject) {
        var error = new Error('DISP_E_TYPEMISMATCH');
        error.name = 'DISP_E_TYPEMISMATCH';
        reject(error);
    }
    function dispatch(call) {
        if (call.args.some(tooDeep))
            return mismatch(call.reject);
        try {
            send(call);
        } catch (e) {
            mismatch(call.reject);
        }
    }
    function send(call) {
        backend.call(call.name, call.args, function (reply) {
            if (reply && reply.error) {
                var error = new Error(reply.error);
                error.name = reply.error;
                call.reject(error);
            } else {
                call.resolve(reply ? reply.result : undefined);
            }
        });
    }
    var external = new Proxy(Object.create(null), {
        get: function (target, name) {
            // Not a method: promises and conversions look these up.
            if (typeof name !== 'string' || name === 'then' || name === 'toJSON')
                return undefined;
            return function () {
                var args = Array.prototype.map.call(arguments, encode);
                return new Promise(function (resolve, reject) {
                    var call = { name: name, args: args, resolve: resolve, reject: reject };
                    if (backend)
                        dispatch(call);
                    else
                        queue.push(call);
                });
            };
        },
        set: function () { return false; },
        defineProperty: function () { return false; },
        deleteProperty: function () { return false; }
    });
    Object.defineProperty(window, 'external', {
        value: external, writable: false, configurable: false, enumerable: true
    });
    function connect() {
        if (typeof qt === 'undefined' || !qt.webChannelTransport)
            return false;
        new QWebChannel(qt.webChannelTransport, function (channel) {
            backend = channel.objects.external;
            var pending = queue;
            queue = [];
            pending.forEach(dispatch);
        });
        return true;
    }
    if (!connect()) {
        var tries = 0;
        var timer = setInterval(function () {
            if (connect() || ++tries > 500)
                clearInterval(timer);
        }, 10);
    }
)JS";

} // namespace

QString bridgeScriptSource() {
    QFile library(":/qtwebchannel/qwebchannel.js");
    QString source;
    if (library.open(QIODevice::ReadOnly))
        source = QString::fromUtf8(library.readAll());
    // The library and the stub stay inside one function: the page sees only window.external.
    return QStringLiteral("(function () {\n'use strict';\nif (location.protocol !== 'file:') return;\n"
                          "var module = undefined;\n") +
           source + QString::fromUtf8(kStub) + QStringLiteral("\n})();\n");
}

QString guardedScript(const QString& script) {
    return QStringLiteral("(function(){try{\n") + script +
           QStringLiteral("\n;return true;}catch(e){return false;}})()");
}

} // namespace gardivo
