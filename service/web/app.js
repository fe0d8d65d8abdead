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
  // How far back the lamp chart reads: as long as the service keeps its history. A service that
  // keeps none refuses, and the chart makes do with the week's answer.
  historyDays: 400,
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
    critical: '<path d="M8.3 3h7.4L21 8.3v7.4L15.7 21H8.3L3 15.7V8.3z"/>' +
              '<path d="M12 8v5M12 16v.5"/>',
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

// Whether the projector has the value at all: the service leaves out of its state what it lacks
// (a projector spoken to through PJLink has no filter time below class 2, for one).
function has(projector, key) {
  return Boolean(projector.state) && Object.prototype.hasOwnProperty.call(projector.state, key);
}

// The names of a watched value's values for this projector: its own inputs where it named them,
// else the catalogue's.
function projectorValueNames(projector, key) {
  if (key === 'input' && Array.isArray(projector.inputs) && projector.inputs.length) {
    return projector.inputs;
  }
  return valueNames(key);
}

// The input choices, drawn again only when the projector's names change.
function fillInputs(select, projector) {
  const names = projectorValueNames(projector, 'input');
  const signature = JSON.stringify(names.map((entry) => entry.name));
  if (select.dataset.options === signature) return;
  select.dataset.options = signature;
  select.replaceChildren(element('option', {value: '', text: '—', disabled: true}));
  for (const {name: input} of names) {
    select.append(element('option', {value: input, text: input}));
  }
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
// The token: asked once when a call is refused with 401, kept in localStorage.

let tokenPrompt = null;  // the one open question, shared by every call that needs it

function authHeaders(headers = {}) {
  const token = localStorage.getItem(TOKEN_KEY);
  if (token) headers.Authorization = `Bearer ${token}`;
  return headers;
}

// Who the page is to the service (GET /api/session): the token's name, role and scope, and
// which calls need a token at all. Until it is known, every control is shown.
let session = {token: null, role: null, projectors: null,
               tokens_required: {read: false, write: false}};

const ROLES = ['read', 'operate', 'admin'];

// Whether the page offers a control that needs this role (on this projector, when named). Without
// a token every control is offered: using one asks for the token.
function may(role, projector) {
  if (!session.tokens_required.write || !session.token) return true;
  if (ROLES.indexOf(session.role) < ROLES.indexOf(role)) return false;
  return !projector || !session.projectors || session.projectors.includes(projector);
}

async function loadSession() {
  try {
    const response = await fetch('/api/session', {cache: 'no-store', headers: authHeaders()});
    if (response.ok) session = await response.json();
    // A stored token the service does not know is dropped rather than sent with every call,
    // each of which it counts as a failure.
    if (response.ok && !session.token && session.tokens_required.write) {
      localStorage.removeItem(TOKEN_KEY);
    }
  } catch (error) {
    // The stream's reconnection tells of a service that cannot be reached.
  }
  document.body.dataset.role = session.role || '';
}

// A 401 to a read when reads need a token: the token is asked for; true when one was entered.
async function askTokenForRead() {
  const stored = localStorage.getItem(TOKEN_KEY);
  if (stored) localStorage.removeItem(TOKEN_KEY);
  const token = await askToken(stored ? 'The stored access token was refused. Enter the current one.'
                                      : 'This service needs an access token to be read.');
  if (token) await loadSession();
  return Boolean(token);
}

// GET of the API with the token; a 401 asks for the token once and tries again.
async function getApi(path) {
  for (let attempt = 0; ; ++attempt) {
    const response = await fetch(path, {cache: 'no-store', headers: authHeaders()});
    if (response.status !== 401 || attempt > 0 || !(await askTokenForRead())) return response;
  }
}

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
    const headers = authHeaders({'Content-Type': 'application/json'});
    const token = localStorage.getItem(TOKEN_KEY);
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
    await loadSession();
    render();
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
                         element('div', {class: 'card-badges'},
                                 element('span', {class: 'badge reach', 'data-field': 'reach'}),
                                 element('a', {class: 'badge alert-badge', href: '#/alerts',
                                               'data-field': 'alert', hidden: true})));
  const reachDetail = element('p', {class: 'reach-detail', 'data-field': 'seen'});
  const failure = element('p', {class: 'reach-failure', 'data-field': 'last-failure'});

  const fields = element('dl', {class: 'fields'},
                         ...model.watched.map((row) => field(row.title, fieldOf(row.key))));

  const buttons = element('div', {class: 'card-actions', role: 'group',
                                  'aria-label': `Commands for ${projector.label || name}`,
                                  hidden: !may('operate', name)});
  for (const entry of CARD_ACTIONS) {
    const button = element('button', {type: 'button', 'data-action': entry.action,
                                      'aria-pressed': entry.toggle ? 'false' : null},
                           entry.text);
    button.addEventListener('click', () => projectorCommand(name, entry));
    buttons.append(button);
  }
  const selectId = `input-${sectionIndex}-${name}`;
  const select = element('select', {id: selectId, 'data-action': 'input'});
  fillInputs(select, projector);
  select.addEventListener('change', () => {
    if (select.value) inputCommand(name, select.value);
  });
  buttons.append(element('label', {class: 'input-choice', for: selectId},
                         element('span', {text: 'Input'}), select));

  const history = element('a', {class: 'card-link', href: `#/history/${encodeURIComponent(name)}`,
                                'data-action': 'history', 'data-field': 'history'}, 'History');

  const card = element('article', {class: 'card', 'data-projector': name,
                                   'aria-label': projector.label || name},
                       header, reachDetail, failure, fields, buttons,
                       element('p', {class: 'card-message', 'data-role': 'message',
                                     role: 'status'}),
                       history);
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
  q('history').setAttribute('aria-label', `History of ${p.label || p.name}`);

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
    const wrapper = node.closest('.field');
    if (wrapper) wrapper.hidden = !has(p, row.key);
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
    const button = card.querySelector(`[data-action="${key}"]`);
    button.setAttribute('aria-pressed', String(isOn(p, key)));
    button.hidden = !has(p, key);
  }
  const select = card.querySelector('select[data-action="input"]');
  fillInputs(select, p);
  select.closest('label').hidden = !has(p, 'input');
  const input = p.state && p.state.input;
  select.value = (input && input.name) || valueName('input', valueOf(p, 'input')) || '';
  markCardAlerts(card, p.name);
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
    if (section.name !== null && section.members.every((member) => may('operate', member))) {
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
  document.querySelector('.top [data-group="all"]').hidden =
      ![...model.projectors.keys()].every((name) => may('operate', name));
  updateSummary();
  fillGroupPicker();
  if (currentRoute().view === 'history') nameHistory();
}

// ---------------------------------------------------------------------------------------------
// Views: the fleet, one projector's history, the usage report and the schedules, each at its own
// address after '#' ("#/history/NAME", "#/usage", "#/schedules"), so that a view can be linked to
// and Back returns to the one before. The event stream runs under every view.

const VIEWS = {
  projectors: {main: 'fleet', title: 'Projectors'},
  history: {main: 'history-view', title: 'History'},
  usage: {main: 'usage-view', title: 'Usage'},
  schedules: {main: 'schedules-view', title: 'Schedules'},
  alerts: {main: 'alerts-view', title: 'Alerts'},
};

const DAY_MS = 86400000;
const SVG_NS = 'http://www.w3.org/2000/svg';

// What the views last drew, kept to draw the charts again at a new width.
const drawn = {history: null, lamp: null, usage: null};

// Each load of a view takes a number; an answer for an older one is dropped, so that a slow
// answer never draws over the view the user has since gone to.
let viewLoad = 0;

function safeDecode(text) {
  try {
    return decodeURIComponent(text);
  } catch (error) {
    return text;
  }
}

function currentRoute() {
  const hash = location.hash.replace(/^#\/?/, '');
  const mark = hash.indexOf('?');
  const path = mark < 0 ? hash : hash.slice(0, mark);
  const params = new URLSearchParams(mark < 0 ? '' : hash.slice(mark + 1));
  const parts = path.split('/').filter(Boolean).map(safeDecode);
  if (parts[0] === 'history' && parts.length === 2) return {view: 'history', projector: parts[1]};
  if (parts[0] === 'usage') return {view: 'usage', params};
  if (parts[0] === 'schedules') return {view: 'schedules'};
  if (parts[0] === 'alerts') return {view: 'alerts'};
  return {view: 'projectors'};
}

function showView(moved) {
  const route = currentRoute();
  for (const [name, view] of Object.entries(VIEWS)) {
    document.getElementById(view.main).hidden = name !== route.view;
  }
  document.body.dataset.view = route.view;
  for (const link of document.querySelectorAll('.views a')) {
    if (link.dataset.view === route.view) link.setAttribute('aria-current', 'page');
    else link.removeAttribute('aria-current');
  }
  document.title =
      route.view === 'projectors' ? 'Projectors' : `${VIEWS[route.view].title} · Projectors`;
  const load = ++viewLoad;
  if (route.view === 'history') loadHistory(route.projector, load);
  else if (route.view === 'usage') loadUsage(route.params, load);
  else if (route.view === 'schedules') loadSchedules(load);
  else if (route.view === 'alerts') loadAlerts();
  // Moved by a link or Back: the new view's heading takes the focus, so that a screen reader
  // tells where the user now is.
  const heading = document.querySelector(`#${VIEWS[route.view].main} h2[tabindex]`);
  if (moved && heading) heading.focus();
}

// A read of the API: {status, body}, status 0 when the service could not be reached and the
// body {error} whenever it is not JSON.
async function read(path) {
  let response;
  try {
    response = await getApi(path);
  } catch (error) {
    return {status: 0, body: {error: 'the service cannot be reached'}};
  }
  try {
    return {status: response.status, body: await response.json()};
  } catch (error) {
    return {status: response.status,
            body: {error: `the service answered ${response.status} ${response.statusText}`}};
  }
}

function reasonOf(answer) {
  return (answer.body && answer.body.error) || `the service answered ${answer.status}`;
}

function localTime(iso) {
  if (!iso) return '—';
  const time = new Date(iso);
  if (Number.isNaN(time.getTime())) return String(iso);
  return time.toLocaleString([], {dateStyle: 'medium', timeStyle: 'short'});
}

function hours(value) {
  return Number.isFinite(value) ? value.toFixed(1) : '—';
}

// "YYYY-MM-DD" of a date in the browser's zone, and of the day n days after such a day.
function dayOf(date) {
  const pad = (n) => String(n).padStart(2, '0');
  return `${date.getFullYear()}-${pad(date.getMonth() + 1)}-${pad(date.getDate())}`;
}

function addDays(day, n) {
  const [year, month, date] = day.split('-').map(Number);
  return dayOf(new Date(year, month - 1, date + n));
}

function validDay(text) {
  return /^\d{4}-\d{2}-\d{2}$/.test(text || '') && !Number.isNaN(Date.parse(text)) ? text : null;
}

function svg(tag, attributes = {}, text = null) {
  const node = document.createElementNS(SVG_NS, tag);
  for (const [key, value] of Object.entries(attributes)) node.setAttribute(key, value);
  if (text !== null) node.textContent = text;
  return node;
}

// A chart's SVG at its container's width, told to assistive technology as one image.
function chartBox(container, height, label) {
  const width = Math.max(240, Math.floor(container.clientWidth || 600));
  const box = svg('svg', {width, height, viewBox: `0 0 ${width} ${height}`, role: 'img',
                          'aria-label': label, class: 'chart-svg'});
  container.replaceChildren(box);
  return {box, width};
}

// Local midnights after from up to to, as times.
function midnights(from, to) {
  const list = [];
  const day = new Date(from);
  day.setHours(24, 0, 0, 0);
  for (; day.getTime() < to; day.setDate(day.getDate() + 1)) list.push(day.getTime());
  return list;
}

function setViewMessage(view, text, kind) {
  setMessage(document.querySelector(`#${view} [data-role="message"]`), text, kind);
}

// ---------------------------------------------------------------------------------------------
// One projector's history: its power over the last 7 days as a band, its lamp hours over what
// the history keeps as a line, and the commands it was sent.

const BAND_KINDS = {
  on: 'On', off: 'Off', cooling: 'Cooling down', unknown: 'Unknown', offline: 'Offline',
};


function nameHistory() {
  const name = currentRoute().projector;
  const projector = model.projectors.get(name);
  document.getElementById('history-title').textContent =
      `History of ${(projector && projector.label) || name}`;
}

// The band's pieces over [from, to]: [{start, end, kind}], an offline projector's as "offline"
// whatever its power was last known to be.
function powerPieces(history) {
  const from = Date.parse(history.from);
  const to = Date.parse(history.to);
  if (!Number.isFinite(from) || !Number.isFinite(to) || to <= from) return [];
  const start = history.at_start || {};
  const events = [];
  for (const change of history.changes || []) {
    if (change.key === 'power') events.push({time: Date.parse(change.time), power: change.value});
  }
  for (const entry of history.reachability || []) {
    events.push({time: Date.parse(entry.time), reach: entry.reach, reason: entry.reason});
  }
  events.sort((a, b) => a.time - b.time);
  let power = start.power === undefined ? null : start.power;
  let reach = start.reach || 'unknown';
  let reason = '';
  const kindNow = () => (reach === 'offline' ? 'offline' : POWER_KINDS[power] || 'unknown');
  const pieces = [];
  let time = from;
  const close = (end) => {
    end = Math.min(Math.max(end, from), to);
    if (end <= time) return;
    const kind = kindNow();
    const last = pieces[pieces.length - 1];
    if (last && last.kind === kind && last.end === time) last.end = end;
    else pieces.push({start: time, end, kind, reason: kind === 'offline' ? reason : ''});
    time = end;
  };
  for (const event of events) {
    if (!Number.isFinite(event.time)) continue;
    close(event.time);
    if ('power' in event) {
      power = event.power;
    } else {
      reach = event.reach;
      reason = event.reason || '';
    }
  }
  close(to);
  return pieces;
}

function drawPowerBand(history) {
  const container = document.querySelector('#history-view [data-chart="power"]');
  const from = Date.parse(history.from);
  const to = Date.parse(history.to);
  const pieces = powerPieces(history);
  const totals = {};
  for (const piece of pieces) {
    totals[piece.kind] = (totals[piece.kind] || 0) + piece.end - piece.start;
  }
  const summary = Object.keys(BAND_KINDS).filter((kind) => totals[kind])
      .map((kind) => `${BAND_KINDS[kind]} ${hours(totals[kind] / 3600000)} h`).join(' · ');
  document.querySelector('#history-view [data-role="power-summary"]').textContent = summary;

  const span = `from ${localTime(history.from)} to ${localTime(history.to)}`;
  const {box, width} = chartBox(container, 58, `Power ${span}: ${summary || 'nothing recorded'}`);
  const x = (time) => ((time - from) / Math.max(1, to - from)) * width;
  const pattern = svg('pattern', {id: 'offline-hatch', width: 6, height: 6,
                                  patternUnits: 'userSpaceOnUse',
                                  patternTransform: 'rotate(45)'});
  pattern.append(svg('rect', {width: 6, height: 6, class: 'hatch-ground'}),
                 svg('line', {x1: 0, y1: 0, x2: 0, y2: 6, class: 'hatch-line'}));
  const defs = svg('defs');
  defs.append(pattern);
  box.append(defs);
  for (const piece of pieces) {
    const rect = svg('rect', {x: x(piece.start), y: 0, height: 30,
                              width: Math.max(1, x(piece.end) - x(piece.start)),
                              class: `piece piece-${piece.kind}`, 'data-kind': piece.kind});
    const why = piece.reason ? ` (${piece.reason})` : '';
    const from = localTime(new Date(piece.start));
    const to = localTime(new Date(piece.end));
    rect.append(svg('title', {}, `${BAND_KINDS[piece.kind]}${why}: ${from} – ${to}`));
    box.append(rect);
  }
  for (const midnight of midnights(from, to)) {
    const at = x(midnight);
    box.append(svg('line', {x1: at, y1: 30, x2: at, y2: 38, class: 'tick'}));
    if (at < width - 44) {
      const label = new Date(midnight).toLocaleDateString([], {weekday: 'short', day: 'numeric'});
      box.append(svg('text', {x: at + 3, y: 50, class: 'axis'}, label));
    }
  }
}

// Points past this many are thinned out: a line of more shows nothing more at any width.
const MOST_POINTS = 2000;

// The lamp's hours at the start and at each change: [{time, value}], unknown ones left out.
function lampPoints(history) {
  const points = [];
  const start = history.at_start && history.at_start.lamp_hours;
  if (Number.isFinite(start)) points.push({time: Date.parse(history.from), value: start});
  for (const change of history.changes || []) {
    if (change.key === 'lamp_hours' && Number.isFinite(change.value)) {
      points.push({time: Date.parse(change.time), value: change.value});
    }
  }
  if (points.length) {
    points.push({time: Date.parse(history.to), value: points[points.length - 1].value});
  }
  if (points.length <= MOST_POINTS) return points.filter((point) => Number.isFinite(point.time));
  const step = Math.ceil(points.length / MOST_POINTS);
  return points.filter((point, i) => Number.isFinite(point.time) &&
                                     (i % step === 0 || i === points.length - 1));
}

function drawLampLine(history) {
  const container = document.querySelector('#history-view [data-chart="lamp"]');
  const points = lampPoints(history);
  const to = Date.parse(history.to);
  // The line starts at the first reading: a history younger than its range has nothing before.
  const from = points.length ? Math.max(Date.parse(history.from), points[0].time) : NaN;
  if (!points.length || !Number.isFinite(from) || !Number.isFinite(to)) {
    container.replaceChildren(element('p', {class: 'empty', text: 'No lamp hours recorded.'}));
    return;
  }
  const values = points.map((point) => point.value);
  let low = Math.min(...values);
  let high = Math.max(...values);
  if (high - low < 2) {
    low -= 1;
    high += 1;
  }
  const height = 170;
  const left = 56;
  const top = 10;
  const bottom = 26;
  const span = `from ${localTime(new Date(from))} to ${localTime(history.to)}`;
  const change = `${values[0]} h to ${values[values.length - 1]} h`;
  const {box, width} = chartBox(container, height, `Lamp hours ${span}: ${change}`);
  const x = (time) => left + ((time - from) / Math.max(1, to - from)) * (width - left - 8);
  const y = (value) => top + (1 - (value - low) / (high - low)) * (height - top - bottom);
  for (const value of [low, high]) {
    box.append(svg('line', {x1: left, x2: width - 8, y1: y(value), y2: y(value), class: 'grid'}),
               svg('text', {x: left - 6, y: y(value) + 4, class: 'axis end'},
                   `${Math.round(value)} h`));
  }
  box.append(svg('text', {x: left, y: height - 6, class: 'axis'},
                 new Date(from).toLocaleDateString([], {dateStyle: 'medium'})),
             svg('text', {x: width - 8, y: height - 6, class: 'axis end'},
                 new Date(to).toLocaleDateString([], {dateStyle: 'medium'})));
  // The lamp's warning, where the chart reaches it.
  const warning = model.lampWarningHours;
  if (warning > 0 && warning >= low && warning <= high) {
    box.append(svg('line', {x1: left, x2: width - 8, y1: y(warning), y2: y(warning),
                            class: 'limit'}),
               svg('text', {x: left + 4, y: y(warning) - 4, class: 'axis'},
                   `Due at ${warning} h`));
  }
  const path = points.map((point, i) => `${i ? 'L' : 'M'}${x(point.time).toFixed(1)},` +
                                          y(point.value).toFixed(1)).join(' ');
  box.append(svg('path', {d: path, class: 'line'}));
  // The first and the latest reading marked, so that a line of a few minutes still shows.
  const first = points[0];
  const latest = points[points.length - 1];
  box.append(svg('circle', {cx: x(first.time), cy: y(first.value), r: 3.5, class: 'dot'}),
             svg('circle', {cx: x(latest.time), cy: y(latest.value), r: 3.5, class: 'dot'}));
}

function commandWords(entry) {
  const setting = model.settings.get(entry.setting);
  const named = setting && (setting.values || []).find((value) => value.value === entry.value);
  const value = named ? named.name : entry.value;
  const parts = [entry.operation, (setting && setting.label) || entry.setting, value];
  return parts.filter((part) => part !== null && part !== undefined && part !== '').join(' ');
}

function drawCommands(history) {
  const body = document.querySelector('#history-view [data-table="commands"] tbody');
  const rows = [...(history.commands || [])].reverse().map((entry) => {
    const result = entry.ok ? 'Done' : `Failed: ${entry.result || 'no reason given'}`;
    return element('tr', {'data-ok': String(Boolean(entry.ok))},
                   element('td', {text: localTime(entry.time), title: entry.time,
                                  'data-label': 'Time'}),
                   element('td', {text: entry.source || '—', 'data-label': 'Source'}),
                   element('td', {text: entry.who || '—', 'data-label': 'Who'}),
                   element('td', {text: commandWords(entry), 'data-label': 'Command'}),
                   element('td', {class: entry.ok ? '' : 'failure', text: result,
                                  'data-label': 'Result'}));
  });
  if (!rows.length) {
    rows.push(element('tr', {}, element('td', {colspan: 5, class: 'empty',
                                               text: 'No commands in these days.'})));
  }
  body.replaceChildren(...rows);
}

function drawHistory() {
  if (!drawn.history) return;
  drawPowerBand(drawn.history);
  drawLampLine(drawn.lamp || drawn.history);
  drawCommands(drawn.history);
}

async function loadHistory(name, load, quietly = false) {
  nameHistory();
  const view = document.getElementById('history-view');
  view.setAttribute('aria-busy', 'true');
  if (!quietly) setViewMessage('history-view', 'Loading…', 'busy');
  const path = `/api/projectors/${encodeURIComponent(name)}/history`;
  const week = await read(path);
  if (load !== viewLoad) return;
  if (week.status !== 200) {
    drawn.history = null;
    for (const chart of view.querySelectorAll('[data-chart]')) chart.replaceChildren();
    view.querySelector('[data-role="power-summary"]').textContent = '';
    view.querySelector('[data-table="commands"] tbody').replaceChildren();
    setViewMessage('history-view', `The history cannot be shown: ${reasonOf(week)}`, 'failure');
    view.setAttribute('aria-busy', 'false');
    return;
  }
  drawn.history = week.body;
  drawn.lamp = null;
  drawHistory();
  setViewMessage('history-view', '', '');
  // The service takes times in whole seconds: the end rounded up, so that it holds all of the
  // week's answer.
  const to = Math.ceil(Date.parse(week.body.to) / 1000) * 1000;
  const seconds = (time) => new Date(time).toISOString().replace(/\.\d+Z$/, 'Z');
  const longer = await read(`${path}?kind=changes&from=${seconds(to - model.historyDays * DAY_MS)}` +
                            `&to=${seconds(to)}`);
  if (load !== viewLoad) return;
  if (longer.status === 200) {
    drawn.lamp = longer.body;
    drawLampLine(longer.body);
  }
  view.setAttribute('aria-busy', 'false');
}

// A change the event stream tells of the projector shown is read again from the history a
// little later, when the service has written it, and at most every few seconds.
let historyTimer = null;
function historyChanged(name) {
  const route = currentRoute();
  if (route.view !== 'history' || route.projector !== name || historyTimer) return;
  historyTimer = setTimeout(() => {
    historyTimer = null;
    const now = currentRoute();
    if (now.view === 'history' && now.projector === name) loadHistory(name, viewLoad, true);
  }, 3000);
}

// ---------------------------------------------------------------------------------------------
// The usage report: hours on per projector as bars, the report's table and its CSV.

function fillGroupPicker() {
  const select = document.getElementById('usage-group');
  const chosen = select.value;
  const options = [element('option', {value: '', text: 'All projectors'})];
  for (const group of model.groups) {
    options.push(element('option', {value: group.name, text: group.name}));
  }
  select.replaceChildren(...options);
  select.value = model.groups.some((group) => group.name === chosen) ? chosen : '';
}

// The report's query from the view's address: the days chosen are whole, so the report runs to
// the midnight after the last one.
function usageQuery(params) {
  const today = dayOf(new Date());
  const to = validDay(params.get('to')) || today;
  const from = validDay(params.get('from')) || addDays(to, -29);
  const group = params.get('group') || '';
  const query = new URLSearchParams({from, to: addDays(to, 1)});
  if (group) query.set('group', group);
  return {from, to, group, query: query.toString()};
}

function drawUsageBars(report) {
  const container = document.querySelector('#usage-view [data-chart="usage"]');
  const rows = report.projectors || [];
  if (!rows.length) {
    container.replaceChildren(element('p', {class: 'empty', text: 'No projector in this report.'}));
    return;
  }
  const rowHeight = 30;
  const height = rows.length * rowHeight + 8;
  const label = rows.map((row) => `${row.name} ${hours(row.hours_on)} h`).join(', ');
  const {box, width} = chartBox(container, height, `Hours on: ${label}`);
  const left = Math.min(160, Math.round(width * 0.32));
  const room = width - left - 64;
  const most = Math.max(1, ...rows.map((row) => row.hours_on || 0));
  rows.forEach((row, i) => {
    const top = 4 + i * rowHeight;
    const projector = model.projectors.get(row.name);
    const bar = svg('rect', {x: left, y: top + 5, height: rowHeight - 10, class: 'bar',
                             width: Math.max(1, ((row.hours_on || 0) / most) * room),
                             'data-projector': row.name});
    bar.append(svg('title', {}, `${row.name}: ${hours(row.hours_on)} h on`));
    box.append(svg('text', {x: left - 8, y: top + rowHeight / 2 + 4, class: 'axis end label'},
                   (projector && projector.label) || row.name),
               bar,
               svg('text', {x: left + Number(bar.getAttribute('width')) + 6,
                            y: top + rowHeight / 2 + 4, class: 'axis'},
                   `${hours(row.hours_on)} h`));
  });
}

function commandCounts(commands) {
  const parts = Object.entries(commands || {}).filter(([, count]) => count)
      .map(([source, count]) => `${source} ${count}`);
  return parts.length ? parts.join(' · ') : '—';
}

function drawUsageTable(report) {
  const rows = (report.projectors || []).map((row) => element(
      'tr', {'data-projector': row.name},
      element('th', {scope: 'row', text: row.name}),
      element('td', {class: 'number', text: hours(row.hours_on), 'data-label': 'Hours on'}),
      element('td', {class: 'number', text: String(row.power_ons ?? '—'),
                     'data-label': 'Power-ons'}),
      element('td', {class: 'number', text: hours(row.hours_offline),
                     'data-label': 'Hours offline'}),
      element('td', {class: 'number', 'data-label': 'Lamp hours',
                     text: `${row.lamp_hours_start ?? '—'} → ${row.lamp_hours_end ?? '—'}`}),
      element('td', {text: commandCounts(row.commands), 'data-label': 'Commands'})));
  document.querySelector('#usage-view [data-table="usage"] tbody').replaceChildren(...rows);
}

async function loadUsage(params, load) {
  const {from, to, group, query} = usageQuery(params);
  const form = document.getElementById('usage-form');
  form.elements.from.value = from;
  form.elements.to.value = to;
  form.elements.group.value = group;
  const csv = document.getElementById('usage-csv');
  csv.href = `/api/reports/usage?${query}&format=csv`;
  const view = document.getElementById('usage-view');
  view.setAttribute('aria-busy', 'true');
  setViewMessage('usage-view', 'Loading…', 'busy');
  const answer = await read(`/api/reports/usage?${query}`);
  if (load !== viewLoad) return;
  view.setAttribute('aria-busy', 'false');
  view.querySelector('[data-table="usage"] caption').textContent =
      `From ${from} through ${to}${group ? `, group ${group}` : ''}`;
  if (answer.status !== 200) {
    drawn.usage = null;
    view.querySelector('[data-chart="usage"]').replaceChildren();
    view.querySelector('[data-table="usage"] tbody').replaceChildren();
    setViewMessage('usage-view', `The report cannot be shown: ${reasonOf(answer)}`, 'failure');
    return;
  }
  drawn.usage = answer.body;
  setViewMessage('usage-view', '', '');
  drawUsageBars(answer.body);
  drawUsageTable(answer.body);
}

function bindUsageForm() {
  const form = document.getElementById('usage-form');
  form.addEventListener('submit', (event) => {
    event.preventDefault();
    const {from, to, group} = form.elements;
    const params = new URLSearchParams({from: from.value, to: to.value});
    if (group.value) params.set('group', group.value);
    const hash = `#/usage?${params}`;
    if (location.hash === hash) showView(false);
    else location.hash = hash;
  });
}

// ---------------------------------------------------------------------------------------------
// The schedules, each with its switch, its next and last run and a button to run it now.

const DAY_NAMES = ['Sunday', 'Monday', 'Tuesday', 'Wednesday', 'Thursday', 'Friday', 'Saturday'];
const TRIGGERS = {time: 'on time', 'catch-up': 'caught up after a restart', manual: 'by hand'};

function listWords(value) {
  if (Array.isArray(value)) {
    if (value.length === 7 && value.every((day) => typeof day === 'boolean')) {
      return DAY_NAMES.filter((name, i) => value[i]).join(', ') || 'never';
    }
    return value.join(', ') || '—';
  }
  if (value === null || value === undefined || value === '') return '—';
  return capitalised(String(value));
}

// The days as the service lists them ("mon", ...), told as a person would.
const DAY_SETS = [
  {days: ['mon', 'tue', 'wed', 'thu', 'fri', 'sat', 'sun'], words: 'Every day'},
  {days: ['mon', 'tue', 'wed', 'thu', 'fri'], words: 'Weekdays'},
  {days: ['sat', 'sun'], words: 'Weekends'},
];

function dayWords(days) {
  if (Array.isArray(days) && days.every((day) => typeof day === 'string')) {
    const set = DAY_SETS.find((entry) => entry.days.length === days.length &&
                                         entry.days.every((day) => days.includes(day)));
    if (set) return set.words;
    return days.map(capitalised).join(', ') || 'Never';
  }
  return listWords(days);
}

function scheduleCommand(command) {
  if (!command || typeof command !== 'object') return String(command ?? '—');
  return [command.command, command.value].filter((part) => part !== undefined && part !== null)
      .join(' ');
}

function resultWords(result) {
  return result.ok ? 'done' : `failed: ${result.result || result.reason || 'no reason given'}`;
}

function runWords(run) {
  if (!run) return 'Never';
  if (run.outcome === 'missed') return `Missed the run of ${localTime(run.planned)}`;
  const trigger = TRIGGERS[run.trigger] || run.trigger || '';
  const results = run.results || [];
  const failed = results.filter((result) => !result.ok).length;
  const outcome = failed ? `${failed} of ${results.length} failed` : `done for ${results.length}`;
  return `${localTime(run.ran || run.planned)}${trigger ? ` (${trigger})` : ''}: ${outcome}`;
}

function scheduleField(label, key) {
  return element('div', {class: 'field'}, element('dt', {text: label}),
                 element('dd', {'data-field': key}));
}

function makeSchedule(entry, index) {
  const name = entry.name;
  const titleId = `schedule-${index}`;
  const toggle = element('button', {type: 'button', role: 'switch', class: 'switch',
                                    'data-action': 'enabled', 'aria-checked': 'false',
                                    'aria-label': `${name} enabled`},
                         element('span', {class: 'switch-track', 'aria-hidden': 'true'}),
                         element('span', {text: 'Enabled'}));
  const run = element('button', {type: 'button', 'data-action': 'run',
                                 'aria-label': `Run ${name} now`}, 'Run now');
  const message = element('p', {class: 'card-message', 'data-role': 'message', role: 'status'});
  const article = element(
      'article', {class: 'card schedule', 'data-schedule': name, 'aria-labelledby': titleId},
      element('header', {class: 'card-head'},
              element('h3', {id: titleId, class: 'card-label', text: name}), toggle),
      element('dl', {class: 'fields'},
              scheduleField('Targets', 'targets'), scheduleField('Days', 'days'),
              scheduleField('At', 'at'), scheduleField('Command', 'command'),
              scheduleField('Next run', 'next'), scheduleField('Time zone', 'timezone')),
      element('div', {class: 'last-run'}, element('h4', {text: 'Last run'}),
              element('p', {'data-field': 'last'}),
              element('ul', {class: 'results', 'data-field': 'results'})),
      element('div', {class: 'card-actions'}, run),
      message);
  toggle.addEventListener('click', () => switchSchedule(article, toggle, message));
  run.addEventListener('click', () => runSchedule(article, run, message));
  toggle.disabled = run.hidden = !may('admin');
  updateSchedule(article, entry);
  return article;
}

function updateSchedule(article, entry) {
  const q = (key) => article.querySelector(`[data-field="${key}"]`);
  article.entry = entry;
  const targets = q('targets');
  targets.textContent = listWords(entry.targets);
  targets.title = (entry.projectors || []).join(', ');
  q('days').textContent = dayWords(entry.days);
  q('at').textContent = listWords(entry.at);
  q('command').textContent = scheduleCommand(entry.command);
  q('timezone').textContent = entry.timezone || '—';
  const next = q('next');
  next.textContent = entry.next_run ? localTime(entry.next_run.utc)
                                    : (entry.enabled ? 'Never' : 'Not while switched off');
  if (entry.next_run) next.title = `${entry.next_run.local} in ${entry.timezone || 'its zone'}`;
  else next.removeAttribute('title');
  const skips = (entry.skip_dates || []).length;
  const notes = [];
  if (skips) notes.push(`${skips} ${skips === 1 ? 'date' : 'dates'} skipped`);
  if (typeof entry.closures === 'string' && entry.closures) {
    notes.push(`not on the days of ${entry.closures}`);
  }
  if (notes.length) {
    q('days').append(element('span', {class: 'note', text: ` (${notes.join('; ')})`}));
  }
  q('last').textContent = runWords(entry.last_run);
  q('results').replaceChildren(...((entry.last_run && entry.last_run.results) || []).map(
      (result) => element('li', {'data-ok': String(Boolean(result.ok)),
                                 'data-projector': result.projector},
                          element('span', {class: 'result-name', text: result.projector}),
                          ` ${resultWords(result)}`)));
  const enabled = String(Boolean(entry.enabled));
  article.querySelector('[data-action="enabled"]').setAttribute('aria-checked', enabled);
  article.dataset.enabled = enabled;
}

async function switchSchedule(article, toggle, message) {
  const entry = article.entry;
  const enabled = !entry.enabled;
  const path = `/api/schedules/${encodeURIComponent(entry.name)}`;
  toggle.disabled = true;
  setMessage(message, enabled ? 'Switching on…' : 'Switching off…', 'busy');
  const {status, body} = await write('PUT', path, {enabled});
  toggle.disabled = false;
  if (status === 200 && body && body.name === entry.name) {
    updateSchedule(article, body);
    setMessage(message, enabled ? 'Switched on' : 'Switched off', 'done');
  } else {
    const reason = (body && body.error) || `status ${status}`;
    setMessage(message, `Switching ${enabled ? 'on' : 'off'} failed: ${reason}`, 'failure');
  }
}

async function runSchedule(article, button, message) {
  const entry = article.entry;
  button.disabled = true;
  setMessage(message, 'Running…', 'busy');
  const {status, body} =
      await write('POST', `/api/schedules/${encodeURIComponent(entry.name)}/run`, {});
  button.disabled = false;
  const run = body && body.run;
  if (!run) {
    setMessage(message, `Run now failed: ${(body && body.error) || `status ${status}`}`, 'failure');
    return;
  }
  updateSchedule(article, {...article.entry, last_run: run});
  const failures = (run.results || []).filter((result) => !result.ok);
  if (failures.length) {
    const words = failures.map((result) => `${result.projector} ${resultWords(result)}`);
    setMessage(message,
               `Run now: ${failures.length} of ${run.results.length} failed — ${words.join('; ')}`,
               'failure');
  } else {
    setMessage(message, `Run now: done for ${(run.results || []).length}`, 'done');
  }
}

async function loadSchedules(load) {
  const view = document.getElementById('schedules-view');
  const list = document.getElementById('schedule-list');
  view.setAttribute('aria-busy', 'true');
  const answer = await read('/api/schedules');
  if (load !== viewLoad) return;
  view.setAttribute('aria-busy', 'false');
  if (answer.status !== 200 || !Array.isArray(answer.body.schedules)) {
    setViewMessage('schedules-view', `The schedules cannot be shown: ${reasonOf(answer)}`,
                   'failure');
    return;
  }
  setViewMessage('schedules-view', '', '');
  const entries = answer.body.schedules;
  list.replaceChildren(...entries.map((entry, i) => makeSchedule(entry, i)));
  if (!entries.length) {
    list.append(element('p', {class: 'empty', text: 'The inventory has no schedule.'}));
  }
}

// The charts follow the window's width.
let resizeTimer = null;
function redrawCharts() {
  clearTimeout(resizeTimer);
  resizeTimer = setTimeout(() => {
    const view = document.body.dataset.view;
    if (view === 'history') drawHistory();
    else if (view === 'usage' && drawn.usage) drawUsageBars(drawn.usage);
  }, 150);
}

// ---------------------------------------------------------------------------------------------
// Alerts: the open ones with a button to acknowledge each that still fires, the recently
// resolved ones below, a count in the navigation and a badge on each card with an open alert.
// Read every 10 s, after an acknowledgement and a moment after the event stream tells of a
// change, since a change of a projector is what raises or resolves its alerts.

const ALERTS_REFRESH_MS = 10000;
const ALERTS_AFTER_EVENT_MS = 2000;

const SEVERITIES = {critical: 'Critical', warning: 'Warning'};

const alertModel = {
  alerts: [],                // as GET /api/alerts lists them: open ones first
  byProjector: new Map(),    // projector name -> its open alerts, the critical ones first
  messages: new Map(),       // alert id -> {text, kind}: an acknowledgement's outcome
  loaded: false,
};

let alertsRead = 0;  // each read takes a number; an older answer is dropped
let alertsTimer = null;

function isOpen(entry) {
  return entry.state !== 'resolved';
}

function severityOf(entry) {
  return entry.severity === 'critical' ? 'critical' : 'warning';
}

// The alerts of one projector, the worst first: what its card's badge shows.
function indexAlerts() {
  alertModel.byProjector = new Map();
  for (const entry of alertModel.alerts) {
    if (!isOpen(entry) || typeof entry.projector !== 'string') continue;
    const list = alertModel.byProjector.get(entry.projector) || [];
    list.push(entry);
    alertModel.byProjector.set(entry.projector, list);
  }
  for (const list of alertModel.byProjector.values()) {
    const rank = (entry) => (severityOf(entry) === 'critical' ? 0 : 1);
    list.sort((a, b) => rank(a) - rank(b));
  }
}

function markCardAlerts(card, name) {
  const badge = card.querySelector('[data-field="alert"]');
  if (!badge) return;
  const list = alertModel.byProjector.get(name) || [];
  badge.hidden = !list.length;
  card.classList.toggle('has-alert', list.length > 0);
  if (!list.length) {
    badge.replaceChildren();
    badge.removeAttribute('title');
    delete badge.dataset.severity;
    return;
  }
  const worst = severityOf(list[0]);
  const words = list.length > 1 ? `${SEVERITIES[worst]} · ${list.length}` : SEVERITIES[worst];
  badge.replaceChildren(svgIcon(worst), document.createTextNode(words));
  badge.dataset.severity = worst;
  const sentences = list.map((entry) => String(entry.sentence || entry.rule || ''));
  badge.title = sentences.join('\n');
  badge.setAttribute('aria-label', `${words} alert: ${sentences.join('; ')}`);
}

function markAllCards() {
  for (const [name, cards] of model.cards) {
    for (const card of cards) markCardAlerts(card, name);
  }
}

function showAlertCount() {
  const open = alertModel.alerts.filter(isOpen);
  const count = document.querySelector('[data-role="alert-count"]');
  const link = count.closest('a');
  count.hidden = !open.length;
  count.textContent = open.length ? String(open.length) : '';
  count.dataset.severity = open.some((entry) => severityOf(entry) === 'critical') ? 'critical'
                                                                                  : 'warning';
  if (open.length) link.setAttribute('aria-label', `Alerts, ${open.length} open`);
  else link.removeAttribute('aria-label');
}

function alertSubject(entry) {
  if (typeof entry.projector === 'string') {
    const projector = model.projectors.get(entry.projector);
    return (projector && projector.label) || entry.projector;
  }
  if (typeof entry.schedule === 'string') return `Schedule ${entry.schedule}`;
  return entry.rule || 'Alert';
}

// "Acknowledged by ops" or "Firing", and when, for the alert's state line.
function stateWords(entry) {
  if (entry.state === 'resolved') {
    return {text: 'Resolved', since: 'Resolved', when: entry.resolved};
  }
  if (entry.state === 'acknowledged') {
    const who = entry.acknowledged_by ? ` by ${entry.acknowledged_by}` : '';
    return {text: `Acknowledged${who}`, since: `Acknowledged${who}`, when: entry.acknowledged_at};
  }
  return {text: 'Firing', since: 'Started', when: entry.started};
}

function makeAlertItem(entry) {
  const id = String(entry.id);
  const titleId = `alert-${id}`;
  const button = element('button', {type: 'button', 'data-action': 'ack'}, 'Acknowledge');
  const article = element(
      'article', {class: 'alert-item', 'data-alert': id, 'aria-labelledby': titleId},
      element('header', {class: 'card-head'},
              element('span', {class: 'badge severity', 'data-field': 'severity'}),
              element('h3', {id: titleId, class: 'card-label', 'data-field': 'subject'}),
              element('span', {class: 'alert-state', 'data-field': 'state'})),
      element('p', {class: 'alert-sentence', 'data-field': 'sentence'}),
      element('p', {class: 'alert-detail'},
              element('span', {'data-field': 'since'}),
              element('span', {'data-field': 'rule'})),
      element('div', {class: 'alert-actions'}, button),
      element('p', {class: 'card-message', 'data-role': 'message', role: 'status'}));
  button.addEventListener('click', () => acknowledgeAlert(article, button));
  return article;
}

function updateAlertItem(article, entry) {
  const q = (key) => article.querySelector(`[data-field="${key}"]`);
  const severity = severityOf(entry);
  article.entry = entry;
  article.dataset.state = entry.state;
  article.dataset.severity = severity;
  setBadge(q('severity'), severity, SEVERITIES[severity]);
  q('subject').textContent = alertSubject(entry);
  q('sentence').textContent = entry.sentence || '';
  const state = stateWords(entry);
  q('state').textContent = state.text;
  const since = q('since');
  since.dataset.since = state.since;
  since.dataset.when = state.when || entry.started || '';
  since.textContent = `${since.dataset.since} ${ago(since.dataset.when)}`;
  since.title = entry.state === 'resolved'
      ? `${localTime(entry.started)} – ${localTime(entry.resolved)}` : localTime(entry.started);
  const value = entry.value ? ` · ${entry.value}` : '';
  q('rule').textContent = ` · rule ${entry.rule || '—'}${value}`;
  const button = article.querySelector('[data-action="ack"]');
  button.hidden = entry.state !== 'firing' || !may('operate', entry.projector);
  button.setAttribute('aria-label', `Acknowledge ${alertSubject(entry)}: ${entry.rule || ''}`);
  const message = alertModel.messages.get(String(entry.id));
  setMessage(article.querySelector('[data-role="message"]'), message ? message.text : '',
             message ? message.kind : '');
}

// Draws a list, keeping the items already there so that focus and messages stay put.
function drawAlertList(container, entries, empty) {
  const kept = new Map([...container.querySelectorAll('[data-alert]')]
                           .map((node) => [node.dataset.alert, node]));
  const items = entries.map((entry) => {
    const item = kept.get(String(entry.id)) || makeAlertItem(entry);
    updateAlertItem(item, entry);
    return item;
  });
  if (!items.length) items.push(element('p', {class: 'empty', text: empty}));
  container.replaceChildren(...items);
}

function drawAlerts() {
  drawAlertList(document.getElementById('alert-list'), alertModel.alerts.filter(isOpen),
                'No open alert.');
  drawAlertList(document.getElementById('resolved-list'),
                alertModel.alerts.filter((entry) => !isOpen(entry)), 'Nothing resolved lately.');
}

async function loadAlerts() {
  const number = ++alertsRead;
  const view = document.getElementById('alerts-view');
  const shown = !view.hidden;
  if (shown && !alertModel.loaded) view.setAttribute('aria-busy', 'true');
  const answer = await read('/api/alerts');
  if (number !== alertsRead) return;
  view.setAttribute('aria-busy', 'false');
  if (answer.status !== 200 || !Array.isArray(answer.body.alerts)) {
    if (!view.hidden) {
      setViewMessage('alerts-view', `The alerts cannot be shown: ${reasonOf(answer)}`, 'failure');
    }
    return;
  }
  setViewMessage('alerts-view', '', '');
  alertModel.alerts = answer.body.alerts.filter((entry) => entry && typeof entry === 'object');
  alertModel.loaded = true;
  const ids = new Set(alertModel.alerts.map((entry) => String(entry.id)));
  for (const id of alertModel.messages.keys()) if (!ids.has(id)) alertModel.messages.delete(id);
  indexAlerts();
  markAllCards();
  showAlertCount();
  drawAlerts();
}

// A change told by the event stream is followed by a read a little later, at most one per wait.
function alertsSoon() {
  if (alertsTimer) return;
  alertsTimer = setTimeout(() => {
    alertsTimer = null;
    loadAlerts();
  }, ALERTS_AFTER_EVENT_MS);
}

async function acknowledgeAlert(article, button) {
  const entry = article.entry;
  const id = String(entry.id);
  button.disabled = true;
  setMessage(article.querySelector('[data-role="message"]'), 'Acknowledging…', 'busy');
  const {status, body} = await write('POST', `/api/alerts/${encodeURIComponent(id)}/ack`, {});
  button.disabled = false;
  if (status === 200 && body && body.alert && typeof body.alert === 'object') {
    alertModel.messages.set(id, {text: 'Acknowledged', kind: 'done'});
    alertModel.alerts = alertModel.alerts.map((known) => (String(known.id) === id ? body.alert
                                                                                     : known));
    indexAlerts();
    markAllCards();
    showAlertCount();
    drawAlerts();
  } else {
    const reason = (body && body.error) || `status ${status}`;
    alertModel.messages.set(id, {text: `Acknowledging failed: ${reason}`, kind: 'failure'});
    setMessage(article.querySelector('[data-role="message"]'),
               `Acknowledging failed: ${reason}`, 'failure');
  }
  loadAlerts();
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
  const response = await getApi('/api/catalogue');
  if (!response.ok) throw new Error(`the service answered ${response.status}`);
  const body = await response.json();
  model.settings = new Map(body.settings.map((setting) => [setting.name, setting]));
  model.watched = body.watched;
}

async function load() {
  await loadSession();
  await loadCatalogue();
  const response = await getApi('/api/projectors');
  if (!response.ok) throw new Error(`the service answered ${response.status}`);
  const body = await response.json();
  model.projectors = new Map(body.projectors.map((p) => [p.name, p]));
  model.groups = body.groups || [];
  if (Number.isFinite(body.lamp_warning_hours)) model.lampWarningHours = body.lamp_warning_hours;
  if (Number.isFinite(body.history_days)) model.historyDays = body.history_days;
  render();
  loadAlerts();
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
  if (!known) {
    reloadFleet();  // a projector the page does not know: the inventory has changed
    return;
  }
  model.projectors.set(projector.name, projector);
  if (!model.cards.has(projector.name)) {
    render();
    return;
  }
  updateCards(projector);
  updateSummary();
  historyChanged(projector.name);
  alertsSoon();
}

// A projector taken out of the inventory: its cards go.
function onRemoved(event) {
  let removed;
  try {
    removed = JSON.parse(event.data);
  } catch (error) {
    return;
  }
  if (!removed || !model.projectors.delete(removed.name)) return;
  model.groups = model.groups.map(
      (group) => ({...group, projectors: group.projectors.filter((n) => n !== removed.name)}));
  render();
}

// The projectors and groups read anew, once at a time, after the inventory has changed.
let fleetReading = null;

function reloadFleet() {
  if (!fleetReading) {
    fleetReading = load().catch(() => {}).finally(() => {
      fleetReading = null;
    });
  }
  return fleetReading;
}

// The event stream read with fetch, for a service whose reads need a token (EventSource sends
// no header). It calls the same handlers, and ends with onEnd.
function tokenStream(onOpen, onEnd) {
  const controller = new AbortController();
  const handlers = {state: onState, removed: onRemoved};
  (async () => {
    const response = await fetch('/api/events', {headers: authHeaders(),
                                                 signal: controller.signal});
    if (!response.ok) throw new Error(`the service answered ${response.status}`);
    onOpen();
    const reader = response.body.pipeThrough(new TextDecoderStream()).getReader();
    let text = '';
    for (;;) {
      const {value, done} = await reader.read();
      if (done) break;
      text += value;
      let end;
      while ((end = text.indexOf('\n\n')) >= 0) {
        const lines = text.slice(0, end).split('\n');
        text = text.slice(end + 2);
        const type = (lines.find((l) => l.startsWith('event: ')) || 'event: message').slice(7);
        const data = lines.filter((l) => l.startsWith('data: ')).map((l) => l.slice(6));
        if (handlers[type] && data.length) handlers[type]({data: data.join('\n')});
      }
    }
    throw new Error('the stream ended');
  })().catch(() => {
    if (!controller.signal.aborted) onEnd();
  });
  return {close: () => controller.abort()};
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
  const opened = () => {
    retryDelay = 1000;
    banner('');
    document.body.dataset.stream = 'up';
  };
  const lost = () => scheduleReconnect('the connection to the service was lost');
  if (session.tokens_required.read) {
    stream = tokenStream(opened, lost);
    return;
  }
  stream = new EventSource('/api/events');
  stream.addEventListener('state', onState);
  stream.addEventListener('removed', onRemoved);
  stream.addEventListener('open', opened);
  stream.addEventListener('error', lost);
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
    const response = await fetch('/api/projectors', {cache: 'no-store', headers: authHeaders()});
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
  for (const node of document.querySelectorAll('[data-since]')) {
    node.textContent = `${node.dataset.since} ${ago(node.dataset.when)}`;
  }
}

document.addEventListener('DOMContentLoaded', () => {
  bindAllButtons();
  bindUsageForm();
  showView(false);
  window.addEventListener('hashchange', () => showView(true));
  window.addEventListener('resize', redrawCharts);
  connect();
  setInterval(tick, 5000);
  setInterval(refresh, REFRESH_MS);
  setInterval(loadAlerts, ALERTS_REFRESH_MS);
});
