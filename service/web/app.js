// The fleet page: one card per projector under its groups, kept current by the service's event
// stream, with the common commands. Everything is drawn with DOM calls and textContent, so no
// label or reason from the service is ever read as markup.
'use strict';

const TOKEN_KEY = 'zolvaned-token';

// The page's styling of each power value: its badge shape and colour.
const POWER_KINDS = {0: 'off', 1: 'on', 2: 'cooling'};

// Values past what they should be, marked on their field and their card.
const ALERTS = {
  lamp_hours: {
    when: (v) => v >= model.lampWarningHours, field: 'warning', card: 'lamp-worn',
    note: () => ` (due at ${model.lampWarningHours} h)`,
  },
  error_status: {when: (v) => v !== 0, field: 'fault', card: 'has-fault'},
};

const REACH = {
  online: {text: 'Online', kind: 'online'},
  offline: {text: 'Offline', kind: 'offline'},
  unknown: {text: 'Not polled yet', kind: 'unknown'},
};

// What each card button sends, and how its outcome is worded. Values are sent by the names the
// catalogue gives them.
const CARD_ACTIONS = [
  {action: 'power-on', text: 'Power on', body: () => powerBody(1), doing: 'Switching on'},
  {action: 'power-off', text: 'Power off', body: () => powerBody(0), doing: 'Switching off'},
  {action: 'blank', text: 'Blank', toggle: 'blank', doing: 'Blanking',
   body: (p) => ({command: 'blank', value: valueName('blank', isOn(p, 'blank') ? 0 : 1)})},
  {action: 'mute', text: 'Mute', toggle: 'mute', doing: 'Muting',
   body: (p) => ({command: 'mute', value: valueName('mute', isOn(p, 'mute') ? 0 : 1)})},
];

const GROUP_ACTIONS = [
  {action: 'group-power-on', text: 'All on', card: 'Power on', value: 1, doing: 'Switching on'},
  {action: 'group-power-off', text: 'All off', card: 'Power off', value: 0,
   doing: 'Switching off'},
];

const model = {
  projectors: new Map(),  // name -> projector object from the service
  groups: [],             // [{name, projectors: [names]}]
  lampWarningHours: 3000,
  cards: new Map(),       // name -> [card elements], one per group the projector is in
  settings: new Map(),    // catalogue name -> setting from /api/catalogue, with its value names
  watched: [],            // the values the service watches, in its order, from /api/catalogue
};

// ---------------------------------------------------------------------------------------------
// Small helpers

function element(tag, attributes = {}, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(attributes)) {
    if (value === undefined || value === null || value === false) continue;
    if (key === 'class') node.className = value;
    else if (key === 'text') node.textContent = value;
    else node.setAttribute(key, value === true ? '' : value);
  }
  for (const child of children) if (child) node.append(child);
  return node;
}

function svgIcon(kind) {
  // Shapes differ by state, so that state is never told by colour alone.
  const shapes = {
    on: '<circle cx="12" cy="12" r="7" class="fill"/>',
    off: '<circle cx="12" cy="12" r="7"/>',
    cooling: '<path d="M12 3v18M4.2 7.5l15.6 9M4.2 16.5l15.6-9"/>',
    online: '<path d="M5 12.5l4.5 4.5L19 7.5"/>',
    offline: '<path d="M6 6l12 12M18 6L6 18"/>',
    unknown: '<circle cx="12" cy="12" r="2" class="fill"/>',
    warning: '<path d="M12 3l10 18H2z"/><path d="M12 10v5M12 17.5v.5"/>',
  };
  const span = document.createElement('span');
  span.className = 'icon-wrap';
  // The shapes are the constants above, never text from the service.
  span.innerHTML =
      `<svg class="icon" viewBox="0 0 24 24" aria-hidden="true">${shapes[kind] || ''}</svg>`;
  return span;
}

function valueOf(projector, key) {
  const entry = projector.state && projector.state[key];
  return entry && entry.value !== null && entry.value !== undefined ? entry.value : null;
}

function isOn(projector, key) {
  return valueOf(projector, key) === 1;
}

// The names of a watched value's values, as the catalogue has them: [{value, name}].
function valueNames(key) {
  const row = model.watched.find((entry) => entry.key === key);
  const setting = row && model.settings.get(row.setting);
  return setting ? setting.values : [];
}

function valueName(key, value) {
  const named = valueNames(key).find((entry) => entry.value === value);
  return named ? named.name : null;
}

function powerBody(value) {
  return {command: 'power', value: valueName('power', value)};
}

// The card's field of a watched value: its key up to the first '_' ("lamp" of lamp_hours).
function fieldOf(key) {
  return key.split('_')[0];
}

function capitalised(text) {
  return text.charAt(0).toUpperCase() + text.slice(1);
}

function ago(iso) {
  if (!iso) return 'never';
  const seconds = Math.max(0, Math.round((Date.now() - Date.parse(iso)) / 1000));
  if (seconds < 5) return 'just now';
  if (seconds < 60) return `${seconds} s ago`;
  if (seconds < 3600) return `${Math.floor(seconds / 60)} min ago`;
  if (seconds < 86400) return `${Math.floor(seconds / 3600)} h ago`;
  return new Date(iso).toLocaleString();
}

// ---------------------------------------------------------------------------------------------
// The token: asked once when a write is refused with 401, kept in localStorage.

let tokenPrompt = null;  // the one open question, shared by every write that needs it

function askToken(reason) {
  if (tokenPrompt) return tokenPrompt;
  const dialog = document.getElementById('token-dialog');
  const form = document.getElementById('token-form');
  const input = document.getElementById('token-input');
  document.getElementById('token-reason').textContent = reason;
  input.value = '';
  tokenPrompt = new Promise((resolve) => {
    const finish = (token) => {
      form.removeEventListener('submit', onSubmit);
      cancel.removeEventListener('click', onCancel);
      dialog.removeEventListener('cancel', onCancel);
      if (dialog.open) dialog.close();
      tokenPrompt = null;
      resolve(token);
    };
    const onSubmit = (event) => {
      event.preventDefault();
      const token = input.value.trim();
      if (!token) return;
      localStorage.setItem(TOKEN_KEY, token);
      finish(token);
    };
    const onCancel = (event) => {
      event.preventDefault();
      finish(null);
    };
    const cancel = document.getElementById('token-cancel');
    form.addEventListener('submit', onSubmit);
    cancel.addEventListener('click', onCancel);
    dialog.addEventListener('cancel', onCancel);
    dialog.showModal();
    input.focus();
  });
  return tokenPrompt;
}

// A write call. Answers {status, body}; status 0 when the service could not be reached. A 401
// asks for the token and tries once more with it.
async function write(method, path, payload) {
  for (let attempt = 0; ; ++attempt) {
    const headers = {'Content-Type': 'application/json'};
    const token = localStorage.getItem(TOKEN_KEY);
    if (token) headers.Authorization = `Bearer ${token}`;
    let response;
    try {
      response = await fetch(path, {method, headers, body: JSON.stringify(payload)});
    } catch (error) {
      return {status: 0, body: {error: 'the service cannot be reached'}};
    }
    let body = null;
    try {
      body = await response.json();
    } catch (error) {
      body = {error: `the service answered ${response.status} ${response.statusText}`};
    }
    if (response.status !== 401 || attempt > 0) return {status: response.status, body};
    const reason = token ? 'The stored access token was refused. Enter the current one.'
                         : 'This service needs an access token for commands.';
    if (token) localStorage.removeItem(TOKEN_KEY);
    if (!(await askToken(reason))) return {status: 401, body};
  }
}

// ---------------------------------------------------------------------------------------------
// Commands and their outcome on the cards

function describeResult(result) {
  // The reason says it in words; the result code ("time-out", "refused") is the fallback.
  return result.reason || result.result || 'no reason given';
}

function setMessage(node, text, kind) {
  node.textContent = text;
  node.dataset.kind = kind || '';
}

function showOnCards(name, text, kind) {
  for (const card of model.cards.get(name) || []) {
    setMessage(card.querySelector('[data-role="message"]'), text, kind);
  }
}

// Shows each projector's outcome on its cards; answers how many succeeded.
function showResults(label, body) {
  let succeeded = 0;
  for (const result of (body && body.results) || []) {
    if (result.ok) {
      ++succeeded;
      const waited = result.waited_ms ? ` after waiting ${(result.waited_ms / 1000).toFixed(1)} s`
                                      : '';
      showOnCards(result.projector, waited ? `${label} done${waited} for the cool-down` : '',
                  'done');
    } else {
      showOnCards(result.projector, `${label} failed: ${describeResult(result)}`, 'failure');
    }
  }
  return succeeded;
}

// A power-on sent while the lamp cools down waits for it to end, which can take minutes.
function doing(entry, projector) {
  const on = entry.action === 'power-on' || entry.action === 'group-power-on';
  return on && valueOf(projector, 'power') === 2 ? 'Waiting for the cool-down, then switching on'
                                                 : entry.doing;
}

async function projectorCommand(name, entry) {
  const projector = model.projectors.get(name);
  if (!projector) return;
  showOnCards(name, `${doing(entry, projector)}…`, 'busy');
  const {status, body} = await write(
      'POST', `/api/projectors/${encodeURIComponent(name)}/commands`, entry.body(projector));
  if (body && Array.isArray(body.results)) {
    showResults(entry.text, body);
  } else {
    showOnCards(name, `${entry.text} failed: ${(body && body.error) || `status ${status}`}`,
                'failure');
  }
}

async function inputCommand(name, input) {
  showOnCards(name, `Selecting ${input}…`, 'busy');
  const {status, body} = await write(
      'POST', `/api/projectors/${encodeURIComponent(name)}/commands`,
      {command: 'input', value: input});
  if (body && Array.isArray(body.results)) {
    showResults(`Input ${input}`, body);
  } else {
    showOnCards(name, `Input ${input} failed: ${(body && body.error) || `status ${status}`}`,
                'failure');
  }
  // Back to what the projector reported until the event stream says otherwise.
  const projector = model.projectors.get(name);
  if (projector) updateCards(projector);
}

async function groupCommand(group, entry, messageNode) {
  const members = group === 'all'
      ? [...model.projectors.keys()]
      : ((model.groups.find((g) => g.name === group) || {}).projectors || []);
  setMessage(messageNode, `${entry.doing}…`, 'busy');
  for (const name of members) {
    const projector = model.projectors.get(name);
    if (projector) showOnCards(name, `${doing(entry, projector)}…`, 'busy');
  }
  const {status, body} = await write(
      'POST', `/api/groups/${encodeURIComponent(group)}/commands`,
      powerBody(entry.value));
  if (body && Array.isArray(body.results)) {
    const succeeded = showResults(entry.card, body);
    const failed = body.results.length - succeeded;
    setMessage(messageNode,
               failed ? `${entry.text}: ${failed} of ${body.results.length} failed`
                      : `${entry.text}: done for ${succeeded}`,
               failed ? 'failure' : 'done');
  } else {
    const reason = (body && body.error) || `status ${status}`;
    setMessage(messageNode, `${entry.text} failed: ${reason}`, 'failure');
    for (const name of members) showOnCards(name, '', '');
  }
}

// ---------------------------------------------------------------------------------------------
// Drawing

function field(label, key) {
  return element('div', {class: 'field'},
                 element('dt', {text: label}),
                 element('dd', {'data-field': key}));
}

function makeCard(projector, sectionIndex) {
  const name = projector.name;
  const title = element('h3', {class: 'card-label', 'data-field': 'label'});
  const header = element('header', {class: 'card-head'},
                         element('div', {class: 'card-names'}, title,
                                 element('span', {class: 'card-name', text: name,
                                                  title: projector.address})),
                         element('span', {class: 'badge reach', 'data-field': 'reach'}));
  const reachDetail = element('p', {class: 'reach-detail', 'data-field': 'seen'});
  const failure = element('p', {class: 'reach-failure', 'data-field': 'last-failure'});

  const fields = element('dl', {class: 'fields'},
                         ...model.watched.map((row) => field(row.title, fieldOf(row.key))));

  const buttons = element('div', {class: 'card-actions', role: 'group',
                                  'aria-label': `Commands for ${projector.label || name}`});
  for (const entry of CARD_ACTIONS) {
    const button = element('button', {type: 'button', 'data-action': entry.action,
                                      'aria-pressed': entry.toggle ? 'false' : null},
                           entry.text);
    button.addEventListener('click', () => projectorCommand(name, entry));
    buttons.append(button);
  }
  const selectId = `input-${sectionIndex}-${name}`;
  const select = element('select', {id: selectId, 'data-action': 'input'});
  select.append(element('option', {value: '', text: '—', disabled: true}));
  for (const {name: input} of valueNames('input')) {
    select.append(element('option', {value: input, text: input}));
  }
  select.addEventListener('change', () => {
    if (select.value) inputCommand(name, select.value);
  });
  buttons.append(element('label', {class: 'input-choice', for: selectId},
                         element('span', {text: 'Input'}), select));

  const card = element('article', {class: 'card', 'data-projector': name,
                                   'aria-label': projector.label || name},
                       header, reachDetail, failure, fields, buttons,
                       element('p', {class: 'card-message', 'data-role': 'message',
                                     role: 'status'}));
  return card;
}

function setBadge(node, kind, text) {
  node.replaceChildren(svgIcon(kind), document.createTextNode(text));
  node.dataset.kind = kind;
}

function updateCard(card, p) {
  const q = (key) => card.querySelector(`[data-field="${key}"]`);
  q('label').textContent = p.label || p.name;
  card.setAttribute('aria-label', p.label || p.name);

  const reach = REACH[p.reach] || REACH.unknown;
  setBadge(q('reach'), reach.kind, reach.text);
  card.dataset.reach = reach.kind;
  const seen = q('seen');
  seen.textContent = `Last seen ${ago(p.last_seen)}`;
  seen.dataset.when = p.last_seen || '';
  if (p.last_seen) seen.title = new Date(p.last_seen).toLocaleString();
  const failure = q('last-failure');
  failure.textContent = p.last_failure ? `Last failure: ${p.last_failure}` : '';
  failure.hidden = !p.last_failure;

  const power = valueOf(p, 'power');
  const powerKind = POWER_KINDS[power];
  const powerName = valueName('power', power);
  if (powerKind && powerName) setBadge(q('power'), powerKind, capitalised(powerName));
  else setBadge(q('power'), 'unknown', power === null ? 'Unknown' : `Code ${power}`);
  card.dataset.power = powerKind && powerName ? powerKind : 'unknown';

  for (const row of model.watched) {
    if (row.key === 'power') continue;  // its badge, above
    const node = q(fieldOf(row.key));
    const entry = p.state && p.state[row.key];
    const value = valueOf(p, row.key);
    const alert = ALERTS[row.key];
    const alarming = Boolean(alert) && value !== null && alert.when(value);
    node.replaceChildren();
    if (alarming) node.append(svgIcon('warning'));
    if (value === null) node.append('Unknown');
    else if (entry.name) node.append(entry.name);
    else if (row.shown === 'hours') node.append(`${value} ${row.unit}`);
    else if (row.shown === 'code') node.append(`Error ${value}`);
    else node.append(`Code ${value}`);
    if (alarming && alert.note) node.append(element('span', {class: 'note', text: alert.note()}));
    if (alert) {
      node.classList.toggle(alert.field, alarming);
      card.classList.toggle(alert.card, alarming);
    }
    // A projector not on is not asked some: what is shown then is from when it last was.
    const stale = Boolean(entry && entry.last_known);
    node.classList.toggle('last-known', stale);
    if (stale) {
      node.title = entry.read_at ?
        `Last known, read at ${new Date(entry.read_at).toLocaleString()}` : 'Last known';
    } else {
      node.removeAttribute('title');
    }
  }

  for (const key of ['blank', 'mute']) {
    card.querySelector(`[data-action="${key}"]`).setAttribute('aria-pressed', String(isOn(p, key)));
  }
  const select = card.querySelector('select[data-action="input"]');
  select.value = valueName('input', valueOf(p, 'input')) || '';
}

function updateCards(projector) {
  for (const card of model.cards.get(projector.name) || []) updateCard(card, projector);
}

function updateSummary() {
  const counts = {online: 0, offline: 0, unknown: 0};
  for (const p of model.projectors.values()) counts[REACH[p.reach] ? p.reach : 'unknown'] += 1;
  const parts = [`${model.projectors.size} projector${model.projectors.size === 1 ? '' : 's'}`,
                 `${counts.online} online`];
  if (counts.offline) parts.push(`${counts.offline} offline`);
  if (counts.unknown) parts.push(`${counts.unknown} not polled yet`);
  document.getElementById('summary').textContent = parts.join(' · ');
}

// The sections: every group in the service's order, then the projectors in no group.
function sections() {
  const list = model.groups.map((group) => ({name: group.name, members: group.projectors}));
  const grouped = new Set(model.groups.flatMap((group) => group.projectors));
  const loose = [...model.projectors.keys()].filter((name) => !grouped.has(name));
  if (loose.length) list.push({name: null, members: loose});
  return list;
}

function render() {
  const main = document.getElementById('fleet');
  model.cards.clear();
  const children = [];
  // Element ids go by the section's place, since group names need not make valid ids.
  for (const [index, section] of sections().entries()) {
    const heading = section.name === null ? 'Ungrouped' : section.name;
    const headingId = `group-${index}`;
    const head = element('header', {class: 'group-head'},
                         element('h2', {id: headingId, text: heading},
                                 element('span', {class: 'count',
                                                  text: ` ${section.members.length}`})));
    if (section.name !== null) {
      const actions = element('div', {class: 'group-actions', role: 'group',
                                      'aria-label': `Group ${heading}`});
      const message = element('p', {class: 'group-message', 'data-role': 'message',
                                    role: 'status'});
      for (const entry of GROUP_ACTIONS) {
        const button = element('button', {type: 'button', 'data-action': entry.action,
                                          'aria-label': `${entry.text} in ${heading}`},
                               entry.text);
        button.addEventListener('click', () => groupCommand(section.name, entry, message));
        actions.append(button);
      }
      head.append(actions, message);
    }
    const grid = element('div', {class: 'cards'});
    for (const name of section.members) {
      const projector = model.projectors.get(name);
      if (!projector) continue;
      const card = makeCard(projector, index);
      updateCard(card, projector);
      if (!model.cards.has(name)) model.cards.set(name, []);
      model.cards.get(name).push(card);
      grid.append(card);
    }
    children.push(element('section', {class: 'group',
                                      'data-group': section.name === null ? '' : section.name,
                                      'data-ungrouped': section.name === null ? 'true' : null,
                                      'aria-labelledby': headingId},
                          head, grid));
  }
  if (!children.length) {
    children.push(element('p', {class: 'empty', text: 'The inventory names no projector.'}));
  }
  main.replaceChildren(...children);
  main.setAttribute('aria-busy', 'false');
  updateSummary();
}

// ---------------------------------------------------------------------------------------------
// Loading and the event stream

let stream = null;
let retryDelay = 1000;
let retryTimer = null;

function banner(text) {
  const node = document.getElementById('banner');
  node.textContent = text || '';
  node.hidden = !text;
}

// What the page names values by and which fields it shows: the service's catalogue, which never
// changes while it runs, so it is read once.
async function loadCatalogue() {
  if (model.watched.length) return;
  const response = await fetch('/api/catalogue');
  if (!response.ok) throw new Error(`the service answered ${response.status}`);
  const body = await response.json();
  model.settings = new Map(body.settings.map((setting) => [setting.name, setting]));
  model.watched = body.watched;
}

async function load() {
  await loadCatalogue();
  const response = await fetch('/api/projectors', {cache: 'no-store'});
  if (!response.ok) throw new Error(`the service answered ${response.status}`);
  const body = await response.json();
  model.projectors = new Map(body.projectors.map((p) => [p.name, p]));
  model.groups = body.groups || [];
  if (Number.isFinite(body.lamp_warning_hours)) model.lampWarningHours = body.lamp_warning_hours;
  render();
}

function onState(event) {
  let projector;
  try {
    projector = JSON.parse(event.data);
  } catch (error) {
    return;
  }
  const known = model.projectors.get(projector.name);
  if (known && projector.version !== undefined && known.version > projector.version) return;
  model.projectors.set(projector.name, projector);
  if (!model.cards.has(projector.name)) {
    render();  // a projector the page has not drawn: the inventory has changed
    return;
  }
  updateCards(projector);
  updateSummary();
}

function scheduleReconnect(reason) {
  if (stream) {
    stream.close();
    stream = null;
  }
  banner(`Live updates stopped (${reason}). Reconnecting…`);
  document.body.dataset.stream = 'down';
  clearTimeout(retryTimer);
  retryTimer = setTimeout(connect, retryDelay);
  retryDelay = Math.min(retryDelay * 2, 15000);
}

async function connect() {
  try {
    await load();
  } catch (error) {
    scheduleReconnect(`the service cannot be reached: ${error.message}`);
    return;
  }
  stream = new EventSource('/api/events');
  stream.addEventListener('state', onState);
  stream.addEventListener('open', () => {
    retryDelay = 1000;
    banner('');
    document.body.dataset.stream = 'up';
  });
  stream.addEventListener('error',
                          () => scheduleReconnect('the connection to the service was lost'));
}

function bindAllButtons() {
  const bar = document.querySelector('.top [data-group="all"]');
  const message = document.querySelector('.top [data-role="message"]');
  for (const entry of GROUP_ACTIONS) {
    bar.querySelector(`[data-action="${entry.action}"]`)
        .addEventListener('click', () => groupCommand('all', entry, message));
  }
}

// The event stream tells of changes only, and a projector that answers every poll with the same
// state sends none, so its last-seen time is read again now and then.
const REFRESH_MS = 15000;

async function refresh() {
  if (document.body.dataset.stream !== 'up') return;  // connect() reads everything anyway
  let body;
  try {
    const response = await fetch('/api/projectors', {cache: 'no-store'});
    if (!response.ok) return;
    body = await response.json();
  } catch (error) {
    return;
  }
  const names = body.projectors.map((p) => p.name);
  if (names.length !== model.projectors.size || names.some((n) => !model.projectors.has(n))) {
    model.projectors = new Map(body.projectors.map((p) => [p.name, p]));
    model.groups = body.groups || [];
    render();
    return;
  }
  for (const projector of body.projectors) {
    const known = model.projectors.get(projector.name);
    if (known.version > projector.version) continue;  // the stream has told of a newer state
    model.projectors.set(projector.name, projector);
    updateCards(projector);
  }
  updateSummary();
}

function tick() {
  for (const node of document.querySelectorAll('[data-field="seen"]')) {
    node.textContent = `Last seen ${ago(node.dataset.when)}`;
  }
}

document.addEventListener('DOMContentLoaded', () => {
  bindAllButtons();
  connect();
  setInterval(tick, 5000);
  setInterval(refresh, REFRESH_MS);
});
