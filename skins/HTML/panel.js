// The control panel, the page every skin opens first ("ControlPanel"). It shows what the program
// reports (mode, picture size, video source, television standard, region) and gives the user
// the program's commands. A skin calls Panel.start with where its pages and its shape are.

var Panel = (function () {
    'use strict';

    var options = {};
    var mode = 'StandBy';

    var modeTexts = { StandBy: ['mode.standby', 'Standing by'], WatchDog: ['mode.watchdog', 'Watching'],
                      Tracing: ['mode.tracing', 'Tracing'] };

    function showMode() {
        var label = modeTexts[mode] || modeTexts.StandBy;
        Gardivo.show('mode', Gardivo.text(label[0], label[1]));
        document.body.setAttribute('data-mode', mode);
        Gardivo.show('start-label', mode === 'StandBy' ? Gardivo.text('button.start', 'Start')
                                                       : Gardivo.text('button.stop', 'Stop'));
    }

    function on(id, handler) {
        var element = document.getElementById(id);
        if (element)
            element.addEventListener('click', handler);
    }

    // options: screenPage, historyPage (relative to the program directory), shape (the
    // arguments of WindowShape), x, y (where the window goes).
    function start(given) {
        options = given;
        var external = window.external;
        external.RegisterID('ControlPanel');
        external.SetTitleIcon('Tavrin Gardivo', 'gardivo.png');
        external.WindowShape.apply(external, options.shape).then(function () {
            external.MoveTo(options.x, options.y);
        });
        external.Localize(1);
        // The first window a page opens is the video window.
        external.CreateContentWindow(options.screenPage);
        external.GetInitialStatus();

        on('start', function () { external.Start(); });
        on('region', function () { external.SetRegion(); });
        on('source', function (event) {
            // The program shows the inputs of the capture card below the button.
            var box = event.currentTarget.getBoundingClientRect();
            external.VideoSource(Math.round(box.left), Math.round(box.bottom));
        });
        on('history', function () { external.CreateContentWindow(options.historyPage); });
        on('setup', function () { external.Setup(); });
        on('help', function () { external.Help(); });
        on('minimize', function () { external.Minimize(); });
        on('close', function () { external.CloseWindow(); });
        Gardivo.movable(document.getElementById('title'));
        showMode();
    }

    function describe(kind, value) {
        switch (kind) {
        case 'mode':
            mode = value;
            showMode();
            break;
        case 'region':
            Gardivo.show('region-state', value === 'yes' ? Gardivo.text('region.part', 'a part of the picture')
                                                          : Gardivo.text('region.whole', 'the whole picture'));
            break;
        case 'videosource':
            Gardivo.show('source-name', value || Gardivo.text('source.single', 'the only input'));
            break;
        case 'standard':
            Gardivo.show('standard-name', value || '-');
            break;
        case 'dimension':
            Gardivo.show('picture-size', value.replace('x', ' \u00d7 '));
            break;
        }
    }

    return { start: start, describe: describe, historyPage: function () { return options.historyPage; },
             refresh: showMode };
})();

// --- what the program calls in this page ---

function DescChange(kind, value) {
    Panel.describe(kind, value);
}

// 1 while the user drags a region over the picture, 0 once it is done (the panel then asks for
// the state again, which now says that a part of the picture is watched).
function SetRegion(selecting) {
    var on = Number(selecting) === 1;
    document.body.classList.toggle('selecting', on);
    if (!on)
        window.external.GetInitialStatus();
}

// The first condition of a run: the page opens the history window.
function CreateHistoryWindow() {
    window.external.CreateContentWindow(Panel.historyPage());
}

// A new condition while the history window is being opened: the panel notes the run.
function SelectRecord(group) {
    Gardivo.show('last-group', group);
}

function DeleteItemFromGroups(group) {}

function InitGroups(connection, query) {}

window.onTextsLoaded = function () {
    Panel.refresh();
};
