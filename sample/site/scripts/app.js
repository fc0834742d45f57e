// Sample script: counts the pictures once the page has loaded.
function countPictures() { return document.images.length; }
