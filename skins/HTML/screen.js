// The video window ("Screen"): a frame around the live picture. The program paints the picture
// and what it draws over it (the region, the traced target, notices) into the rectangle the page
// gives with SetWindowRegion; the page draws everything around it.

var Screen = (function () {
    'use strict';

    // options: shape (the arguments of WindowShape), x, y (where the window goes), video (left,
    // top, right, bottom of the picture in the window).
    function start(options) {
        var external = window.external;
        external.RegisterID('Screen');
        external.WindowShape.apply(external, options.shape).then(function () {
            external.MoveTo(options.x, options.y);
        });
        var video = options.video;
        var hole = document.getElementById('picture');
        if (hole) {
            hole.style.left = video[0] + 'px';
            hole.style.top = video[1] + 'px';
            hole.style.width = (video[2] - video[0]) + 'px';
            hole.style.height = (video[3] - video[1]) + 'px';
        }
        external.SetWindowRegion(video[0], video[1], video[2], video[3]);
        external.Localize(1);
        Gardivo.movable(document.getElementById('title'));
    }

    return { start: start };
})();

// The program reports to the control panel only; these are here for skins that show a status
// line on the video window too.
function DescChange(kind, value) {
    if (kind === 'mode')
        document.body.setAttribute('data-mode', value);
}

function SetRegion(selecting) {}
