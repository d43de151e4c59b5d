// Offline reloads: the page's own files, from the network when it answers, else from the
// copy kept at the last visit. Nothing of another origin is ever asked for.
const CACHE = 'graybmp-@VERSION@';
const FILES = ['./', 'index.html', 'style.css', 'app.js', 'graybmp.js', 'graybmp.wasm',
  'vendor/fflate.js'];

self.addEventListener('install', (event) => {
  event.waitUntil(caches.open(CACHE).then((cache) => cache.addAll(FILES)));
});

self.addEventListener('activate', (event) => {
  event.waitUntil(caches.keys().then((keys) =>
    Promise.all(keys.filter((key) => key !== CACHE).map((key) => caches.delete(key)))));
});

self.addEventListener('fetch', (event) => {
  const request = event.request;
  if (request.method !== 'GET' || new URL(request.url).origin !== self.location.origin) return;
  event.respondWith(fetch(request).then((response) => {
    if (response.ok) {
      const copy = response.clone();
      caches.open(CACHE).then((cache) => cache.put(request, copy));
    }
    return response;
  }).catch(() => caches.match(request)));
});
