// Module "@sciter": element lookup and event subscription on the document.
export const $ = (selector) => document.querySelector(selector);
export const $$ = (selector) => [...document.querySelectorAll(selector)];
// on(event, [selector], handler): handler(event, element) for events on
// elements matching `selector` (or on the document).
export const on = (event, selector, handler) => document.on(event, selector, handler);
export default { $, $$, on };
