// What every Gardivo skin page shares: the localised texts, moving a shaped window by a part of
// the page, and small helpers. A skin page includes this file and then its own script.
//
// window.external is the program. Every call returns a promise of the call's result code; the
// program calls back into the page through the functions it expects each page to define
// (DescChange, SetRegion, CreateHistoryWindow, SelectRecord, DeleteItemFromGroups, InitGroups,
// Localize).

var Gardivo = (function () {
    'use strict';

    // The texts of the Info file for the user's country, as key = text.
    var texts = {};

    // Reads an Info file ("key=text" a line, "#" starts a comment) and puts its texts into every
    // element that names a key in data-text (its text) or data-title (its tooltip).
    function loadTexts(path, done) {
        var request = new XMLHttpRequest();
        request.onload = function () {
            texts = {};
            request.responseText.split(/\r?\n/).forEach(function (line) {
                var cut = line.indexOf('=');
                if (line.charAt(0) === '#' || cut < 1)
                    return;
                texts[line.slice(0, cut).trim()] = line.slice(cut + 1).trim();
            });
            applyTexts(document);
            if (done)
                done();
        };
        request.open('GET', 'file://' + encodeURI(path));
        request.overrideMimeType('text/plain; charset=utf-8');
        request.send();
    }

    function applyTexts(root) {
        Array.prototype.forEach.call(root.querySelectorAll('[data-text]'), function (element) {
            var key = element.getAttribute('data-text');
            if (texts[key])
                element.textContent = texts[key];
        });
        Array.prototype.forEach.call(root.querySelectorAll('[data-title]'), function (element) {
            var key = element.getAttribute('data-title');
            if (texts[key])
                element.title = texts[key];
        });
    }

    // The text for a key, or the English one given.
    function text(key, english) {
        return texts[key] || english;
    }

    // Dragging the element moves the window (the program follows the mouse until the button is
    // let go). Buttons inside the element keep their clicks.
    function movable(element) {
        element.addEventListener('mousedown', function (event) {
            if (event.button !== 0 || event.target.closest('button, input, select, a'))
                return;
            window.external.EnableMove(event.clientX, event.clientY);
            event.preventDefault();
        });
        var stop = function () { window.external.DisableMove(); };
        document.addEventListener('mouseup', stop);
        window.addEventListener('blur', stop);
    }

    // Puts text into the element with the id, if the page has one.
    function show(id, value) {
        var element = document.getElementById(id);
        if (element)
            element.textContent = value;
    }

    return { loadTexts: loadTexts, applyTexts: applyTexts, text: text, movable: movable, show: show };
})();

// The program hands every page the path of its Info file this way.
function Localize(path) {
    Gardivo.loadTexts(path, function () {
        if (window.onTextsLoaded)
            window.onTextsLoaded();
    });
}
