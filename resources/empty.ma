//Maya ASCII 2012 scene
//Name: report.ma
//Codeset: UTF-8
requires maya "2012";
currentUnit -l centimeter -a degree -t film;
fileInfo "application" "vortan";
