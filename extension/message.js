// A message box of the extension's own, for pages it may not script
// (browser pages, the extension store): the text comes in the fragment.
"use strict";
document.getElementById("text").textContent = decodeURIComponent(location.hash.slice(1)).slice(0, 2000);
document.getElementById("ok").addEventListener("click", () => window.close());
document.addEventListener("keydown", (e) => {
  if (e.key === "Enter" || e.key === "Escape")
    window.close();
});
