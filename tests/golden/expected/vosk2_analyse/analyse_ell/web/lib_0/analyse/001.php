<?
include("../../analyse.php");
$lnk_image="../analyse_image/001.jpg";
$lnk_file="../analyse/001.txt";
extract_info($lnk_image, $lnk_file);
?>