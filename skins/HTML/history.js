// The history window ("History"): the monitoring runs (groups) newest first, the conditions of
// the chosen run, the evidence picture of the chosen condition, and what can be done with it:
// play its clip, save a copy of it that any player plays, open its folder, delete it or the whole run. The rows come from the program
// (HistoryRows); everything that changes the history goes through the program too, which then
// tells the page what changed (SelectRecord, DeleteItemFromGroups).

var History = (function () {
    'use strict';

    var groups = [];        // [{ name, rows: [row, ...] }], newest first, rows highest number first
    var current = null;     // the chosen group's name
    var chosen = null;      // the chosen row's Description
    var pendingDelete = null;

    function fileUrl(path) {
        return 'file://' + path.split('/').map(encodeURIComponent).join('/');
    }

    function group(name) {
        for (var i = 0; i < groups.length; ++i)
            if (groups[i].name === name)
                return groups[i];
        return null;
    }

    function row() {
        var g = group(current);
        if (!g)
            return null;
        for (var i = 0; i < g.rows.length; ++i)
            if (g.rows[i].Description === chosen)
                return g.rows[i];
        return null;
    }

    // Reads every row again; then keeps the choice where it can.
    function reload(then) {
        window.external.HistoryRows().then(function (rows) {
            groups = [];
            rows.forEach(function (r) {
                var g = group(r.GroupName);
                if (!g) {
                    g = { name: r.GroupName, rows: [] };
                    groups.push(g);
                }
                g.rows.push(r);
            });
            if (!group(current))
                current = groups.length ? groups[0].name : null;
            if (!row())
                chosen = group(current) && group(current).rows.length ? group(current).rows[0].Description : null;
            render();
            if (then)
                then();
        });
    }

    function item(text, detail, selected, onChoose) {
        var li = document.createElement('li');
        var title = document.createElement('span');
        title.className = 'name';
        title.textContent = text;
        li.appendChild(title);
        if (detail) {
            var small = document.createElement('span');
            small.className = 'detail';
            small.textContent = detail;
            li.appendChild(small);
        }
        if (selected)
            li.className = 'selected';
        li.addEventListener('click', onChoose);
        return li;
    }

    function render() {
        var list = document.getElementById('groups');
        list.textContent = '';
        groups.forEach(function (g) {
            var li = item(g.name, g.rows.length + ' ' + Gardivo.text('history.conditions', 'conditions'),
                          g.name === current, function () { choose(g.name, null); });
            li.setAttribute('data-group', g.name);
            list.appendChild(li);
        });
        var conditions = document.getElementById('conditions');
        conditions.textContent = '';
        var g = group(current);
        (g ? g.rows : []).forEach(function (r) {
            var li = item(r.Description, r.Time + (r.Remark ? '  \u2013 ' + r.Remark : ''), r.Description === chosen,
                          function () { choose(current, r.Description); });
            li.setAttribute('data-description', r.Description);
            conditions.appendChild(li);
        });
        var r = row();
        var picture = document.getElementById('evidence');
        if (r && r.ImagePath) {
            picture.src = fileUrl(r.ImagePath);
            picture.style.visibility = 'visible';
        } else {
            picture.removeAttribute('src');
            picture.style.visibility = 'hidden';
        }
        Gardivo.show('remark', r ? (r.Remark || Gardivo.text('history.ongoing', 'No release note yet.')) : '');
        document.getElementById('play').disabled = !(r && r.VideoPath);
        document.getElementById('save-copy').disabled = !(r && r.VideoPath);
        document.getElementById('folder').disabled = !g;
        document.getElementById('delete').disabled = !r;
        document.getElementById('delete-group').disabled = !g;
        Gardivo.show('empty', groups.length ? '' : Gardivo.text('history.empty', 'No conditions recorded yet.'));
    }

    function choose(name, description) {
        current = name;
        chosen = description;
        if (!row()) {
            var g = group(name);
            chosen = g && g.rows.length ? g.rows[0].Description : null;
        }
        hideConfirm();
        render();
    }

    // Deleting asks first, in the window itself.
    function askDelete(whole) {
        var r = row();
        if (!current || (!whole && !r))
            return;
        pendingDelete = { group: current, description: whole ? '' : r.Description };
        Gardivo.show('confirm-text', whole ? Gardivo.text('history.askgroup', 'Delete this whole run and its files?') + ' ' + current
                                           : Gardivo.text('history.ask', 'Delete this condition and its files?') + ' ' + r.Description);
        document.getElementById('confirm').hidden = false;
    }

    function hideConfirm() {
        pendingDelete = null;
        document.getElementById('confirm').hidden = true;
    }

    function start(options) {
        var external = window.external;
        external.RegisterID('History');
        external.WindowShape.apply(external, options.shape).then(function () {
            external.MoveTo(options.x, options.y);
        });
        external.Localize(1);
        // The program answers with InitGroups, and the page reads the rows then.
        external.InitGroups();
        document.getElementById('play').addEventListener('click', function () {
            var r = row();
            if (r)
                external.OpenFile(1, r.GroupName, r.Description);
        });
        // A copy of the clip that phones and browsers play, where the user chooses.
        document.getElementById('save-copy').addEventListener('click', function () {
            var r = row();
            if (r && r.VideoPath)
                external.SaveCopy(r.GroupName, r.Description);
        });
        document.getElementById('folder').addEventListener('click', function () {
            if (current)
                external.Explore(current);
        });
        document.getElementById('evidence').addEventListener('dblclick', function () {
            var r = row();
            if (r && r.ImagePath)
                external.OpenFile(2, r.ImagePath, '');
        });
        document.getElementById('delete').addEventListener('click', function () { askDelete(false); });
        document.getElementById('delete-group').addEventListener('click', function () { askDelete(true); });
        document.getElementById('confirm-yes').addEventListener('click', function () {
            var doomed = pendingDelete;
            hideConfirm();
            if (doomed)
                external.DeleteRecord(doomed.group, doomed.description);
        });
        document.getElementById('confirm-no').addEventListener('click', hideConfirm);
        document.getElementById('close').addEventListener('click', function () { external.CloseHistory(); });
        document.getElementById('minimize').addEventListener('click', function () { external.Minimize(); });
        Gardivo.movable(document.getElementById('title'));
        hideConfirm();
    }

    return {
        start: start,
        reload: reload,
        // A new condition, or a run that changed: read again and show that run.
        select: function (name) {
            reload(function () {
                if (group(name))
                    choose(name, null);
            });
        },
        // A run is gone (deleted here, or its folder removed on disk).
        remove: function (name) {
            groups = groups.filter(function (g) { return g.name !== name; });
            if (current === name) {
                current = groups.length ? groups[0].name : null;
                chosen = null;
            }
            reload();
        },
        render: render
    };
})();

// --- what the program calls in this page ---

// The program's connection text and query: the rows themselves come through HistoryRows.
function InitGroups(connection, query) {
    History.reload();
}

function SelectRecord(group) {
    History.select(group);
}

function DeleteItemFromGroups(group) {
    History.remove(group);
}

function DescChange(kind, value) {}

function SetRegion(selecting) {}

window.onTextsLoaded = function () {
    History.render();
};
