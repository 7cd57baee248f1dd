#pragma once

// The web view's pages: plain HTML and a little script, laid out for a phone first. The session's
// CSRF token is written into each page it serves ("{{csrf}}").

namespace gardivo::webpages {

inline constexpr const char* kStyle = R"CSS(
* { box-sizing: border-box; }
body { margin: 0; font-family: system-ui, sans-serif; background: #1b2631; color: #e8eef2; }
header { display: flex; align-items: center; gap: 12px; padding: 12px 16px; background: #243447; }
header h1 { font-size: 18px; margin: 0; flex: 1; }
nav a, button, input[type=submit] { font: inherit; font-size: 16px; color: #fff; background: #2f6f7a; border: 0;
  border-radius: 6px; padding: 10px 14px; text-decoration: none; }
button.danger { background: #9b3030; }
main { padding: 12px 16px; max-width: 900px; margin: 0 auto; }
img.live, img.evidence { width: 100%; border-radius: 6px; background: #000; display: block; }
.mode { font-size: 20px; margin: 12px 0; }
.row { display: flex; gap: 8px; flex-wrap: wrap; margin: 8px 0; }
.run { margin: 16px 0; padding: 8px; background: #243447; border-radius: 6px; }
.run h2 { font-size: 16px; margin: 4px 0 8px; }
.condition { border-top: 1px solid #3a4d60; padding: 8px 0; }
.remark { color: #b8c6d1; font-size: 14px; }
form.login { display: flex; flex-direction: column; gap: 12px; max-width: 360px; margin: 40px auto; }
form.login input { font-size: 18px; padding: 10px; border-radius: 6px; border: 1px solid #3a4d60; }
.error { color: #ff9c9c; }
)CSS";

inline constexpr const char* kLogin = R"HTML(<!DOCTYPE html>
<html><head><meta charset="utf-8"><meta name="viewport" content="width=device-width, initial-scale=1">
<title>Gardivo: log in</title><link rel="stylesheet" href="/style.css"></head>
<body><header><h1>Gardivo</h1></header>
<form class="login" method="post" action="/login">
<label>User <input name="user" autocomplete="username" required></label>
<label>Password <input name="password" type="password" autocomplete="current-password" required></label>
<div class="error" id="error">{{error}}</div>
<input type="submit" value="Log in">
</form></body></html>)HTML";

inline constexpr const char* kLive = R"HTML(<!DOCTYPE html>
<html><head><meta charset="utf-8"><meta name="viewport" content="width=device-width, initial-scale=1">
<meta name="csrf" content="{{csrf}}"><title>Gardivo</title><link rel="stylesheet" href="/style.css"></head>
<body><header><h1>Gardivo</h1><nav><a href="/history">History</a></nav></header>
<main>
<img class="live" id="live" src="/live.mjpg" alt="The live picture">
<div class="mode">Mode: <span id="mode">…</span></div>
<div class="row"><button id="start">Start watching</button><button id="stop" class="danger">Stop</button>
<form method="post" action="/logout"><input type="hidden" name="csrf" value="{{csrf}}"><button>Log out</button></form></div>
</main>
<script>
const csrf = document.querySelector('meta[name=csrf]').content;
async function refresh() {
  const r = await fetch('/api/state', {cache: 'no-store'});
  if (r.ok) document.getElementById('mode').textContent = (await r.json()).mode;
}
async function command(which) {
  await fetch('/api/' + which, {method: 'POST', headers: {'X-CSRF-Token': csrf}});
  setTimeout(refresh, 300);
}
document.getElementById('start').onclick = () => command('start');
document.getElementById('stop').onclick = () => command('stop');
refresh();
setInterval(refresh, 1000);
</script></body></html>)HTML";

inline constexpr const char* kHistory = R"HTML(<!DOCTYPE html>
<html><head><meta charset="utf-8"><meta name="viewport" content="width=device-width, initial-scale=1">
<meta name="csrf" content="{{csrf}}"><title>Gardivo: history</title><link rel="stylesheet" href="/style.css"></head>
<body><header><h1>History</h1><nav><a href="/">Live</a></nav></header>
<main id="runs"><p>Loading…</p></main>
<script>
const csrf = document.querySelector('meta[name=csrf]').content;
function evidence(run, condition, kind) {
  return '/evidence?run=' + encodeURIComponent(run) + '&condition=' + encodeURIComponent(condition) + '&kind=' + kind;
}
async function remove(run, condition) {
  if (!confirm(condition ? 'Delete ' + condition + ' and its files?' : 'Delete the whole run ' + run + ' and its files?'))
    return;
  const body = new URLSearchParams({run: run, condition: condition});
  await fetch('/api/delete', {method: 'POST', headers: {'X-CSRF-Token': csrf}, body: body});
  shown = '';
  load();
}
let shown = '';
async function load() {
  const r = await fetch('/api/history', {cache: 'no-store'});
  if (!r.ok) return;
  const text = await r.text();
  // Drawn again only when something changed: pictures are not fetched anew every second.
  if (text === shown) return;
  shown = text;
  const runs = JSON.parse(text);
  const main = document.getElementById('runs');
  main.textContent = '';
  if (!runs.length) main.textContent = 'No conditions recorded yet.';
  for (const run of runs) {
    const box = document.createElement('section');
    box.className = 'run';
    box.dataset.run = run.name;
    const h = document.createElement('h2');
    h.textContent = run.name + ' (' + run.conditions.length + ')';
    box.appendChild(h);
    const delRun = document.createElement('button');
    delRun.className = 'danger';
    delRun.textContent = 'Delete run';
    delRun.onclick = () => remove(run.name, '');
    box.appendChild(delRun);
    for (const c of run.conditions) {
      const d = document.createElement('div');
      d.className = 'condition';
      d.dataset.condition = c.condition;
      const title = document.createElement('div');
      title.textContent = c.condition + ' at ' + c.time;
      d.appendChild(title);
      const remark = document.createElement('div');
      remark.className = 'remark';
      remark.textContent = c.remark;
      d.appendChild(remark);
      if (c.picture) {
        const a = document.createElement('a');
        a.href = evidence(run.name, c.condition, 'picture');
        const img = document.createElement('img');
        img.className = 'evidence';
        img.loading = 'lazy';
        img.src = a.href;
        img.alt = c.condition;
        a.appendChild(img);
        d.appendChild(a);
      }
      const row = document.createElement('div');
      row.className = 'row';
      if (c.clip) {
        const clip = document.createElement('a');
        clip.href = evidence(run.name, c.condition, 'clip');
        clip.textContent = c.playable ? 'Play clip' : 'Download clip (AVI)';
        row.appendChild(clip);
      }
      const del = document.createElement('button');
      del.className = 'danger';
      del.textContent = 'Delete';
      del.onclick = () => remove(run.name, c.condition);
      row.appendChild(del);
      d.appendChild(row);
      box.appendChild(d);
    }
    main.appendChild(box);
  }
}
load();
setInterval(load, 1000);
</script></body></html>)HTML";

} // namespace gardivo::webpages
